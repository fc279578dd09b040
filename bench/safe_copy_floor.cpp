// The floor of rewriting an archive: a crash-safe copy of a file's bytes to a temporary
// file beside the target, with copy_file_range, fsync and rename (bench/whole_process.sh).
//   safe_copy_floor SOURCE TARGET [OFFSET SIZE]   (copies SIZE bytes from OFFSET when given)
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5) {
    std::fprintf(stderr, "usage: safe_copy_floor SOURCE TARGET [OFFSET SIZE]\n");
    return 2;
  }
  const int source = open(argv[1], O_RDONLY);
  struct stat status {};
  if (source < 0 || fstat(source, &status) != 0) return perror(argv[1]), 1;
  loff_t from = argc == 5 ? std::strtoll(argv[3], nullptr, 10) : 0;
  off_t left = argc == 5 ? std::strtoll(argv[4], nullptr, 10) : status.st_size;
  const std::string temporary = std::string(argv[2]) + ".tmp";
  const int target = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (target < 0) return perror(temporary.c_str()), 1;
  while (left > 0) {
    const ssize_t copied = copy_file_range(source, &from, target, nullptr, size_t(left), 0);
    if (copied <= 0) return perror("copy_file_range"), 1;
    left -= copied;
  }
  if (fsync(target) != 0 || close(target) != 0) return perror(temporary.c_str()), 1;
  if (rename(temporary.c_str(), argv[2]) != 0) return perror(argv[2]), 1;
  close(source);
  return 0;
}
