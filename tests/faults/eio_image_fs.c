// A FUSE file system with one read-only file, "image": the bytes of a backing image file, except
// that reads touching chosen 512-byte sectors fail with EIO, as a disk with bad sectors does.
//
//   eio_image_fs BACKING MOUNTPOINT [--bad FIRST:COUNT[:TIMES]]... [fuse options]
//
// TIMES > 0 makes only the first TIMES reads of the range fail (a sector that reads on retry).
// --direct-io passes reads through without the page cache (large reads, for long runs).
// Runs in the foreground until unmounted (fusermount3 -u MOUNTPOINT).
#define FUSE_USE_VERSION 35

#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#define SECTOR_BYTES 512
#define MAX_BAD_RANGES 1024

struct bad_range {
  uint64_t first;
  uint64_t count;
  int failures_left;  // -1: every read fails
};

static int backing_fd = -1;
static struct stat backing_stat;
static struct bad_range bad[MAX_BAD_RANGES];
static int bad_count = 0;
static const char image_path[] = "/image";
static int direct_io = 0;

static int touches_bad_sector(uint64_t offset, size_t length) {
  if (length == 0) return 0;
  const uint64_t first = offset / SECTOR_BYTES;
  const uint64_t end = (offset + length + SECTOR_BYTES - 1) / SECTOR_BYTES;
  for (int i = 0; i < bad_count; ++i) {
    if (first >= bad[i].first + bad[i].count || bad[i].first >= end) continue;
    if (bad[i].failures_left == 0) continue;
    if (bad[i].failures_left > 0) --bad[i].failures_left;
    return 1;
  }
  return 0;
}

static int fs_getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
  (void)fi;
  memset(st, 0, sizeof *st);
  if (strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0555;
    st->st_nlink = 2;
    return 0;
  }
  if (strcmp(path, image_path) != 0) return -ENOENT;
  st->st_mode = S_IFREG | 0444;
  st->st_nlink = 1;
  st->st_size = backing_stat.st_size;
  st->st_blocks = backing_stat.st_blocks;
  st->st_mtime = backing_stat.st_mtime;
  return 0;
}

static int fs_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t offset,
                      struct fuse_file_info* fi, enum fuse_readdir_flags flags) {
  (void)offset;
  (void)fi;
  (void)flags;
  if (strcmp(path, "/") != 0) return -ENOENT;
  fill(buf, ".", NULL, 0, 0);
  fill(buf, "..", NULL, 0, 0);
  fill(buf, image_path + 1, NULL, 0, 0);
  return 0;
}

static int fs_open(const char* path, struct fuse_file_info* fi) {
  if (strcmp(path, image_path) != 0) return -ENOENT;
  if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  fi->direct_io = direct_io ? 1u : 0u;
  return 0;
}

static int fs_read(const char* path, char* buf, size_t size, off_t offset,
                   struct fuse_file_info* fi) {
  (void)path;
  (void)fi;
  if (touches_bad_sector((uint64_t)offset, size)) return -EIO;
  size_t done = 0;
  while (done < size) {
    ssize_t got = pread(backing_fd, buf + done, size - done, offset + (off_t)done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -errno;
    if (got == 0) break;
    done += (size_t)got;
  }
  return (int)done;
}

static const struct fuse_operations operations = {
    .getattr = fs_getattr,
    .readdir = fs_readdir,
    .open = fs_open,
    .read = fs_read,
};

static int parse_bad_range(const char* text) {
  uint64_t first = 0;
  uint64_t count = 0;
  int times = 0;
  const int fields = sscanf(text, "%" SCNu64 ":%" SCNu64 ":%d", &first, &count, &times);
  if (bad_count == MAX_BAD_RANGES || fields < 2 || count == 0 || times < 0) {
    fprintf(stderr, "eio_image_fs: bad range '%s' (FIRST:COUNT[:TIMES])\n", text);
    return 0;
  }
  bad[bad_count].first = first;
  bad[bad_count].count = count;
  bad[bad_count].failures_left = times > 0 ? times : -1;
  ++bad_count;
  return 1;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: eio_image_fs BACKING MOUNTPOINT [--bad FIRST:COUNT]... [options]\n");
    return 2;
  }
  backing_fd = open(argv[1], O_RDONLY | O_CLOEXEC);
  if (backing_fd < 0 || fstat(backing_fd, &backing_stat) != 0) {
    perror(argv[1]);
    return 1;
  }
  // FUSE gets the program name, the mount point, the foreground flag and the options left over.
  char** fuse_argv = calloc((size_t)argc + 5, sizeof *fuse_argv);
  int fuse_argc = 0;
  fuse_argv[fuse_argc++] = argv[0];
  fuse_argv[fuse_argc++] = argv[2];
  fuse_argv[fuse_argc++] = "-f";
  fuse_argv[fuse_argc++] = "-s";  // one thread: the failure counters need no lock
  fuse_argv[fuse_argc++] = "-oro,default_permissions,fsname=eio_image_fs";
  for (int i = 3; i < argc; ++i) {
    if (strcmp(argv[i], "--bad") == 0 && i + 1 < argc) {
      if (!parse_bad_range(argv[++i])) return 2;
    } else if (strcmp(argv[i], "--direct-io") == 0) {
      direct_io = 1;
    } else {
      fuse_argv[fuse_argc++] = argv[i];
    }
  }
  const int status = fuse_main(fuse_argc, fuse_argv, &operations, NULL);
  free(fuse_argv);
  return status;
}
