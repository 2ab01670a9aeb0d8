// The executable stays small: it answers `--show` and `--version` itself, and loads the
// application (Qt, the store, text recognition) only for the commands that need it. Loading all
// of that costs tens of milliseconds, which a shortcut bound to `ulvane --show` must not pay.

#include "launcher/CommandWords.h"
#include "launcher/ShowRequest.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <unistd.h>

namespace {

std::string ownFolder()
{
    std::vector<char> path(4096);
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0)
        return ".";
    const std::string self(path.data(), size_t(length));
    const size_t slash = self.rfind('/');
    return slash == std::string::npos ? std::string(".") : self.substr(0, slash);
}

int runApplication(int argc, char **argv)
{
    const std::string folder = ownFolder();
    // Installed, the library lives in a private folder under the prefix; in a build tree it
    // sits beside the executable.
    const std::string candidates[] = {folder + "/" ULVANE_LIB_FROM_BIN "/ulvane-app.so",
                                      folder + "/ulvane-app.so"};
    std::string errors;
    for (const std::string &path : candidates) {
        if (::access(path.c_str(), R_OK) != 0)
            continue;
        void *library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            errors = ::dlerror();
            break;
        }
        using Entry = int (*)(int, char **);
        const auto entry = reinterpret_cast<Entry>(::dlsym(library, "ulvane_app_main"));
        if (!entry) {
            errors = path + ": no entry point";
            break;
        }
        return entry(argc, argv);
    }
    std::fprintf(stderr, "ulvane: the application library could not be loaded: %s\n",
                 errors.empty() ? (candidates[0] + " is missing").c_str() : errors.c_str());
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    switch (CommandWords::parse(argc, argv).mode) {
    case CommandWords::Mode::Show:
        // Nobody listening is not an error: the request simply has no one to open a picker.
        ShowRequest::send(2000, ShowRequest::activationToken());
        return 0;
    case CommandWords::Mode::Version:
        std::puts("ulvane " ULVANE_VERSION);
        return 0;
    default:
        return runApplication(argc, argv);
    }
}
