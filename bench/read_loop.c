/* The floor for a scan that reads as the lookups do: reads the file to its end in blocks of the
 * given size (KiB, default 128, as the lookups read) and looks at nothing.   read_loop FILE [KIB]
 */
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

static char block[1024 * 1024];

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const size_t size = argc > 2 ? (size_t)atoi(argv[2]) * 1024 : 128 * 1024;
  if (size == 0 || size > sizeof block) return 2;
  const int fd = open(argv[1], O_RDONLY);
  if (fd < 0) return 3;
  while (read(fd, block, size) > 0) {
  }
  return 0;
}
