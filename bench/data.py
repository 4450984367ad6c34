#!/usr/bin/python3
"""The data of the benchmarks: tables on one data source, messages in a folder.

    data.py DSN FOLDER

Makes the tables customers and orders: 500 customers with three orders each
(the mailing list), and a customer rowsN@example.com with N orders for every
N of ROWS (the growth). Writes FOLDER/query.sql (the query a host would give
Kelvorin) and FOLDER/rowsN.txt, the message to rowsN@example.com: about 200
bytes of text and five placeholders per row. Run with /usr/bin/python3.
"""
import os
import sys

import pyodbc

ROWS = [1, 3, 10, 100, 1000, 5000]
TITLES = ["The Shipping News", "Mapping the Deep", "Gödel, Escher, Bach",
          "A Pattern Language", "The Periodic Table", "Invisible Cities"]
QUERY = ("SELECT c.name, o.order_no, o.placed, o.title, o.amount\n"
         "FROM customers c JOIN orders o ON o.customer_id = c.id\n"
         "WHERE c.email = '%recipient%'\nORDER BY o.placed, o.order_no\n")
MESSAGE = ("From: Northwind Books <orders@northwind.example>\r\nTo: {0}\r\n"
           "Subject: Your recent orders\r\nMIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=utf-8\r\n<<< {0}\r\n\r\n"
           "Dear %%1%%,\r\n\r\nhere is what you ordered from us:\r\n%kelvorin%\r\n"
           "  Order #%%2%% placed on %%3%%: \"%%4%%\", amount EUR %%5%%. Thank you for\r\n"
           "  choosing Northwind Books; the order ships from our warehouse within two\r\n"
           "  working days of the date above.\r\n%kelvorin%\r\n\r\n"
           "The first of them was #%%2%%. Thank you for your custom!\r\n")


def insert(cursor, table, rows):
    """Multi-row INSERTs of literal values: fast on every engine and driver."""
    for start in range(0, len(rows), 500):
        values = ",".join("(%s)" % ",".join(row) for row in rows[start:start + 500])
        cursor.execute("INSERT INTO %s VALUES %s" % (table, values))


def fill(dsn):
    people = [(i, "customer%d@example.com" % i, 3) for i in range(1, 501)]
    people += [(1000 + n, "rows%d@example.com" % n, n) for n in ROWS]
    connection = pyodbc.connect("DSN=" + dsn, autocommit=True)
    cursor = connection.cursor()
    for table in ("orders", "customers"):
        cursor.execute("DROP TABLE IF EXISTS " + table)
    cursor.execute("CREATE TABLE customers (id INTEGER PRIMARY KEY, "
                   "email VARCHAR(100) NOT NULL UNIQUE, name TEXT)")
    cursor.execute("CREATE TABLE orders (order_no INTEGER PRIMARY KEY, customer_id INTEGER "
                   "NOT NULL, placed TEXT, title TEXT, amount NUMERIC(10,2))")
    cursor.execute("CREATE INDEX orders_customer ON orders (customer_id)")
    orders = []
    for cid, _, count in people:
        for i in range(count):
            day = "2026-%02d-%02d" % (i % 12 + 1, i % 28 + 1)
            orders.append([str(len(orders) + 1), str(cid), "'%s'" % day,
                           "'%s'" % TITLES[i % len(TITLES)], "%d.%02d" % (10 + i % 90, i % 100)])
    insert(cursor, "customers",
           [[str(cid), "'%s'" % email, "'Customer %d O''Hara'" % cid] for cid, email, _ in people])
    insert(cursor, "orders", orders)
    connection.close()


def main():
    dsn, folder = sys.argv[1:3]
    fill(dsn)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "query.sql"), "w", newline="") as f:
        f.write(QUERY)
    for n in ROWS:
        with open(os.path.join(folder, "rows%d.txt" % n), "w", encoding="utf-8", newline="") as f:
            f.write(MESSAGE.format("rows%d@example.com" % n))


if __name__ == "__main__":
    main()
