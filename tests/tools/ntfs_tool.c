/*
 * Builds NTFS test volumes without mounting them: creates files (resident or not), fragments two
 * files by interleaving their writes, adds named streams, leaves holes, makes folders and deletes
 * files, all through libntfs-3g on an image file.
 *
 *   ntfs_tool IMAGE write PATH HOSTFILE
 *   ntfs_tool IMAGE interleave PATH_A HOST_A PATH_B HOST_B CHUNK
 *   ntfs_tool IMAGE stream PATH NAME HOSTFILE
 *   ntfs_tool IMAGE sparse PATH HOSTFILE OFFSET
 *   ntfs_tool IMAGE mkdir PATH
 *   ntfs_tool IMAGE mkcdir PATH      (a compressed folder: files made in it are compressed)
 *   ntfs_tool IMAGE times PATH MODIFIED ACCESSED   (seconds since 1970, UTC)
 *   ntfs_tool IMAGE delete PATH
 *
 * PATH is absolute inside the volume ("/dir/name"); its folder must exist. Names are UTF-8.
 * Exit status 0 on success, 1 on failure (with a line on stderr).
 */
#include <errno.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/ntfstime.h>
#include <ntfs-3g/security.h>
#include <ntfs-3g/types.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>

static int fail(const char* what, const char* detail) {
  fprintf(stderr, "ntfs_tool: %s: %s (%s)\n", what, detail, strerror(errno));
  return 1;
}

static unsigned char* read_host_file(const char* path, size_t* length) {
  FILE* file = fopen(path, "rb");
  if (!file) return NULL;
  fseek(file, 0, SEEK_END);
  long size = ftell(file);
  fseek(file, 0, SEEK_SET);
  unsigned char* bytes = malloc(size > 0 ? (size_t)size : 1);
  if (bytes && size > 0 && fread(bytes, 1, (size_t)size, file) != (size_t)size) {
    free(bytes);
    bytes = NULL;
  }
  fclose(file);
  *length = size > 0 ? (size_t)size : 0;
  return bytes;
}

/* Splits "/a/b/name" into the folder inode and the UTF-16 name. */
static ntfs_inode* open_parent(ntfs_volume* vol, const char* path, ntfschar** name, int* name_len) {
  const char* slash = strrchr(path, '/');
  if (!slash) {
    errno = EINVAL;
    return NULL;
  }
  char folder[4096];
  size_t folder_len = (size_t)(slash - path);
  if (folder_len >= sizeof(folder)) {
    errno = ENAMETOOLONG;
    return NULL;
  }
  memcpy(folder, path, folder_len);
  folder[folder_len] = '\0';
  *name = NULL;
  *name_len = ntfs_mbstoucs(slash + 1, name);
  if (*name_len <= 0) return NULL;
  return ntfs_pathname_to_inode(vol, NULL, folder_len ? folder : "/");
}

static ntfs_inode* create_node(ntfs_volume* vol, const char* path, mode_t type) {
  ntfschar* name;
  int name_len;
  ntfs_inode* dir = open_parent(vol, path, &name, &name_len);
  if (!dir) return NULL;
  ntfs_inode* node = ntfs_create(dir, const_cpu_to_le32(0), name, (u8)name_len, type);
  ntfs_inode_close(dir);
  ntfs_ucsfree(name);
  return node;
}

static int write_all(ntfs_attr* attr, s64 offset, const unsigned char* bytes, size_t length) {
  size_t done = 0;
  while (done < length) {
    s64 written = ntfs_attr_pwrite(attr, offset + (s64)done, (s64)(length - done), bytes + done);
    if (written <= 0) return -1;
    done += (size_t)written;
  }
  return 0;
}

static int write_file(ntfs_volume* vol, const char* path, const char* host, s64 offset) {
  size_t length;
  unsigned char* bytes = read_host_file(host, &length);
  if (!bytes) return fail("read", host);
  ntfs_inode* node = create_node(vol, path, S_IFREG);
  if (!node) return fail("create", path);
  ntfs_attr* data = ntfs_attr_open(node, AT_DATA, AT_UNNAMED, 0);
  int result = data ? write_all(data, offset, bytes, length) : -1;
  /* A compressed file's last unit is compressed when the writing ends. */
  if (data && result == 0 && ntfs_attr_pclose(data) != 0) result = -1;
  if (data) ntfs_attr_close(data);
  ntfs_inode_close(node);
  free(bytes);
  return result == 0 ? 0 : fail("write", path);
}

static int interleave(ntfs_volume* vol, char** args) {
  size_t chunk = (size_t)strtoull(args[4], NULL, 0);
  size_t lengths[2];
  unsigned char* bytes[2] = {read_host_file(args[1], &lengths[0]),
                             read_host_file(args[3], &lengths[1])};
  if (!bytes[0] || !bytes[1] || chunk == 0) return fail("read", "host files");
  ntfs_inode* nodes[2] = {create_node(vol, args[0], S_IFREG), create_node(vol, args[2], S_IFREG)};
  if (!nodes[0] || !nodes[1]) return fail("create", args[0]);
  ntfs_attr* attrs[2] = {ntfs_attr_open(nodes[0], AT_DATA, AT_UNNAMED, 0),
                         ntfs_attr_open(nodes[1], AT_DATA, AT_UNNAMED, 0)};
  if (!attrs[0] || !attrs[1]) return fail("open", "$DATA");
  size_t done[2] = {0, 0};
  while (done[0] < lengths[0] || done[1] < lengths[1]) {
    for (int i = 0; i < 2; ++i) {
      size_t piece = lengths[i] - done[i] < chunk ? lengths[i] - done[i] : chunk;
      if (piece == 0) continue;
      if (write_all(attrs[i], (s64)done[i], bytes[i] + done[i], piece) != 0)
        return fail("write", i == 0 ? args[0] : args[2]);
      done[i] += piece;
    }
  }
  for (int i = 0; i < 2; ++i) {
    ntfs_attr_close(attrs[i]);
    ntfs_inode_close(nodes[i]);
    free(bytes[i]);
  }
  return 0;
}

static int add_stream(ntfs_volume* vol, const char* path, const char* stream, const char* host) {
  size_t length;
  unsigned char* bytes = read_host_file(host, &length);
  if (!bytes) return fail("read", host);
  ntfs_inode* node = ntfs_pathname_to_inode(vol, NULL, path);
  if (!node) return fail("open", path);
  ntfschar* name = NULL;
  int name_len = ntfs_mbstoucs(stream, &name);
  if (name_len <= 0) return fail("name", stream);
  if (ntfs_attr_add(node, AT_DATA, name, (u8)name_len, NULL, 0) != 0) return fail("add", stream);
  ntfs_attr* data = ntfs_attr_open(node, AT_DATA, name, (u32)name_len);
  int result = data ? write_all(data, 0, bytes, length) : -1;
  if (data) ntfs_attr_close(data);
  ntfs_inode_close(node);
  free(bytes);
  return result == 0 ? 0 : fail("write stream", stream);
}

static int set_times(ntfs_volume* vol, const char* path, const char* modified,
                     const char* accessed) {
  ntfs_inode* node = ntfs_pathname_to_inode(vol, NULL, path);
  if (!node) return fail("open", path);
  struct timespec modified_time = {(time_t)strtoll(modified, NULL, 10), 0};
  struct timespec accessed_time = {(time_t)strtoll(accessed, NULL, 10), 0};
  node->last_data_change_time = timespec2ntfs(modified_time);
  node->last_access_time = timespec2ntfs(accessed_time);
  ntfs_inode_mark_dirty(node);
  return ntfs_inode_close(node) == 0 ? 0 : fail("close", path);
}

static int delete_node(ntfs_volume* vol, const char* path) {
  ntfschar* name;
  int name_len;
  ntfs_inode* dir = open_parent(vol, path, &name, &name_len);
  if (!dir) return fail("open folder of", path);
  ntfs_inode* node = ntfs_pathname_to_inode(vol, NULL, path);
  if (!node) return fail("open", path);
  /* ntfs_delete closes both inodes, also on failure. */
  int result = ntfs_delete(vol, path, node, dir, name, (u8)name_len);
  ntfs_ucsfree(name);
  return result == 0 ? 0 : fail("delete", path);
}

static int run(ntfs_volume* vol, const char* command, char** args, int count) {
  if (strcmp(command, "write") == 0 && count == 2) return write_file(vol, args[0], args[1], 0);
  if (strcmp(command, "sparse") == 0 && count == 3)
    return write_file(vol, args[0], args[1], (s64)strtoll(args[2], NULL, 0));
  if (strcmp(command, "interleave") == 0 && count == 5) return interleave(vol, args);
  if (strcmp(command, "stream") == 0 && count == 3)
    return add_stream(vol, args[0], args[1], args[2]);
  if (strcmp(command, "delete") == 0 && count == 1) return delete_node(vol, args[0]);
  if (strcmp(command, "times") == 0 && count == 3) return set_times(vol, args[0], args[1], args[2]);
  if (strcmp(command, "mkcdir") == 0 && count == 1) {
    ntfs_inode* node = create_node(vol, args[0], S_IFDIR);
    if (!node) return fail("mkdir", args[0]);
    le32 attributes = node->flags | FILE_ATTR_COMPRESSED;
    int result = ntfs_set_ntfs_attrib(node, (const char*)&attributes, sizeof attributes, 0);
    ntfs_inode_close(node);
    return result == 0 ? 0 : fail("compress", args[0]);
  }
  if (strcmp(command, "mkdir") == 0 && count == 1) {
    ntfs_inode* node = create_node(vol, args[0], S_IFDIR);
    if (!node) return fail("mkdir", args[0]);
    ntfs_inode_close(node);
    return 0;
  }
  fprintf(stderr, "ntfs_tool: unknown command or wrong arguments: %s\n", command);
  return 2;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: ntfs_tool IMAGE COMMAND ARGS...\n");
    return 2;
  }
  setlocale(LC_ALL, "C.UTF-8");
  ntfs_set_char_encoding("C.UTF-8");
  ntfs_volume* vol = ntfs_mount(argv[1], NTFS_MNT_NONE);
  if (!vol) return fail("mount", argv[1]);
  NVolSetCompression(vol); /* files made in compressed folders are written compressed */
  int result = run(vol, argv[2], argv + 3, argc - 3);
  if (ntfs_umount(vol, FALSE) != 0 && result == 0) result = fail("unmount", argv[1]);
  return result;
}
