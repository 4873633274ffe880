#include "app/folder_access.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "output/recovered_output.h"

namespace kestrel {

std::string FolderWriteProblem(const std::string& folder) {
  const std::string existing = ExistingAncestor(folder);
  struct stat st {};
  if (::stat(existing.c_str(), &st) != 0) return std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return std::strerror(ENOTDIR);
  if (::access(existing.c_str(), W_OK | X_OK) != 0) return std::strerror(errno);
  return {};
}

}  // namespace kestrel
