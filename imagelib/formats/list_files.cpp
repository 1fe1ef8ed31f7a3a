#include "imagelib/metaimage.h"

#include <dirent.h>

namespace KVEL {

static bool isDirectory(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (dir) closedir(dir);
    return dir != nullptr;
}

void listFiles(const std::string& path, std::vector<std::string>& files, bool recursive) {
    DIR* dir = opendir(path.c_str());
    if (!dir) {
        files.push_back(path);
        return;
    }
    // "/" and "C:/" already end in a separator; every other path needs one.
    const std::string prefix = !path.empty() && path.back() == '/' ? path : path + "/";
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const std::string name = prefix + entry->d_name;
        if (recursive) {
            listFiles(name, files, true);
        } else if (!isDirectory(name)) {
            files.push_back(name);
        }
    }
    closedir(dir);
}

}  // namespace KVEL
