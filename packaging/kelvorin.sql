SELECT name, order_no, title, amount
FROM orders
WHERE email = '%recipient%'
ORDER BY order_no
