/* Linked into kelvorin_no_flush only: fsync and fdatasync return at once, so
 * the difference to kelvorin is what the two flushes of the crash-safe rewrite
 * cost on the disk measured. A benchmark instrument, never a program to run
 * on a mailing host: its rewrite is not durable. */
int fsync(int fd) {
  (void)fd;
  return 0;
}

int fdatasync(int fd) {
  (void)fd;
  return 0;
}
