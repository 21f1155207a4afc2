// The record of HTTP settings: a transport's own proxy and login texts, and
// the process-wide copy that last reached a part list, which the completion
// step hands to the installed client. Below the download and the install
// code, which both read it. Portable: no Windows header.
#pragma once

// Six texts of 260 bytes.
struct HttpSettings {
    char proxyAddress[260];
    char proxyPort[260];
    char proxyUser[260];
    char proxyPassword[260];
    char siteUser[260];
    char sitePassword[260];
};
