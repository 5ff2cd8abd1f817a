#pragma once
#include <QString>
#include <curl/curl.h>

// libcurl's entry points, loaded with the first transfer instead of with the program: libcurl
// and the libraries it brings (TLS, LDAP, SSH, IDN...) would otherwise all be mapped and bound
// before the first window is shown, for a download that may never come.
namespace CurlLibrary {

// The file the loader opens; the package depends on it.
constexpr const char* kFileName = "libcurl.so.4";

struct Api {
    decltype(&curl_global_init) global_init;
    decltype(&curl_easy_init) easy_init;
    decltype(&curl_easy_setopt) easy_setopt;
    decltype(&curl_easy_pause) easy_pause;
    decltype(&curl_easy_strerror) easy_strerror;
    decltype(&curl_easy_cleanup) easy_cleanup;
    decltype(&curl_multi_init) multi_init;
    decltype(&curl_multi_setopt) multi_setopt;
    decltype(&curl_multi_add_handle) multi_add_handle;
    decltype(&curl_multi_remove_handle) multi_remove_handle;
    decltype(&curl_multi_socket_action) multi_socket_action;
    decltype(&curl_multi_info_read) multi_info_read;
    decltype(&curl_multi_cleanup) multi_cleanup;
    decltype(&curl_slist_append) slist_append;
    decltype(&curl_slist_free_all) slist_free_all;
};

// Loads and initialises libcurl once; later calls return the same entry points. Null when it
// cannot be loaded (LoadError says why).
const Api* Load();
QString LoadError();

} // namespace CurlLibrary
