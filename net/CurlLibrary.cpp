#include "CurlLibrary.h"

#include <dlfcn.h>

namespace CurlLibrary {

namespace {

struct Loaded {
    Api api{};
    bool ok = false;
    QString error;
};

template <typename Function> bool Resolve(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

Loaded LoadNow() {
    Loaded loaded;
    void* library = dlopen(kFileName, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        loaded.error = QString::fromLocal8Bit(dlerror());
        return loaded;
    }
    Api& api = loaded.api;
    const bool resolved = Resolve(library, "curl_global_init", api.global_init) &&
                          Resolve(library, "curl_easy_init", api.easy_init) &&
                          Resolve(library, "curl_easy_setopt", api.easy_setopt) &&
                          Resolve(library, "curl_easy_pause", api.easy_pause) &&
                          Resolve(library, "curl_easy_strerror", api.easy_strerror) &&
                          Resolve(library, "curl_easy_cleanup", api.easy_cleanup) &&
                          Resolve(library, "curl_multi_init", api.multi_init) &&
                          Resolve(library, "curl_multi_setopt", api.multi_setopt) &&
                          Resolve(library, "curl_multi_add_handle", api.multi_add_handle) &&
                          Resolve(library, "curl_multi_remove_handle", api.multi_remove_handle) &&
                          Resolve(library, "curl_multi_socket_action", api.multi_socket_action) &&
                          Resolve(library, "curl_multi_info_read", api.multi_info_read) &&
                          Resolve(library, "curl_multi_cleanup", api.multi_cleanup) &&
                          Resolve(library, "curl_slist_append", api.slist_append) &&
                          Resolve(library, "curl_slist_free_all", api.slist_free_all);
    if (!resolved) {
        loaded.error = QString::fromLocal8Bit(dlerror());
        return loaded;
    }
    if (api.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        loaded.error = QStringLiteral("%1 could not be initialised").arg(QLatin1String(kFileName));
        return loaded;
    }
    // Stays loaded to the end of the process, as a linked library would.
    loaded.ok = true;
    return loaded;
}

const Loaded& Once() {
    static const Loaded loaded = LoadNow();
    return loaded;
}

} // namespace

const Api* Load() {
    const Loaded& loaded = Once();
    return loaded.ok ? &loaded.api : nullptr;
}

QString LoadError() {
    return Once().error;
}

} // namespace CurlLibrary
