# Shared settings of the build and test scripts; sourced, not run.
# Everything can be overridden from the environment, so that several
# checkouts can build and test side by side on one machine.

CV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export CV_ROOT
export BUILD_DIR="${BUILD_DIR:-$CV_ROOT/build}"

# The shipped program is 32-bit and is the build the Windows tiers test
# wherever this machine runs 32-bit code. Some hosts' kernels cannot execute
# i386 code at all (32-bit Wine then fails with "Exec format error"); only
# there the tiers run the 64-bit twin of the same sources under 64-bit Wine.
# The probe needs Wine installed, so scripts/test calls cv_choose_arch again
# after the bootstrap. CV_WIN_ARCH and WINEPREFIX set by the caller hold.
CV_ARCH_FROM_CALLER="${CV_ARCH_FROM_CALLER-${CV_WIN_ARCH:-}}"
CV_PREFIX_FROM_CALLER="${CV_PREFIX_FROM_CALLER-${WINEPREFIX:-}}"
cv_choose_arch() {
  if [ -n "$CV_ARCH_FROM_CALLER" ]; then
    CV_WIN_ARCH="$CV_ARCH_FROM_CALLER"
  elif /usr/lib/wine/wine --version >/dev/null 2>&1; then
    CV_WIN_ARCH=i686
  else
    CV_WIN_ARCH=x86_64
  fi
  export CV_WIN_ARCH
  if [ "$CV_WIN_ARCH" = i686 ]; then
    export CV_WIN_TREE="$BUILD_DIR/win32"
    export WINEARCH=win32
    export CV_WINE=/usr/lib/wine/wine
    export WINESERVER=/usr/lib/wine/wineserver32
  else
    export CV_WIN_TREE="$BUILD_DIR/win64"
    export WINEARCH=win64
    export CV_WINE=/usr/lib/wine/wine64
    export WINESERVER=/usr/lib/wine/wineserver64
  fi
  export WINELOADER="$CV_WINE"
  export WINEPREFIX="${CV_PREFIX_FROM_CALLER:-$BUILD_DIR/wineprefix-$CV_WIN_ARCH}"
}
cv_choose_arch
export WINEDEBUG="${WINEDEBUG:--all}"
# winemenubuilder mirrors every shortcut the program writes into the Linux
# desktop's menus: a process of its own per shortcut, and nothing to test.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
export DISPLAY="${CV_DISPLAY:-:97}"

# The test display has no window manager. Wine's X11 driver waits up to 2 s
# for one to confirm each time a window it thinks managed is hidden, a wait
# that Windows and a desktop with a window manager never have: windows are
# left unmanaged in the test prefix. Needs the prefix and its wineserver.
cv_wine_prefix_settings() {
  "$CV_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
}

# Loopback services of the test tier. Ports derive from one base so that
# side-by-side runs can take different ranges.
export CV_PORT_BASE="${CV_PORT_BASE:-18000}"
export CV_HTTP_PORT=$((CV_PORT_BASE + 80))        # nginx
export CV_SCRIPTED_HTTP_PORT=$((CV_PORT_BASE + 81)) # our scripted HTTP server
export CV_SCRIPTED_HTTP_ALT_PORT=$((CV_PORT_BASE + 84)) # the same server, a second port
export CV_SCRIPTED_HTTP_ALT_ADDR="${CV_SCRIPTED_HTTP_ALT_ADDR:-127.0.0.2}" # ... and a second address
export CV_PROXY_PORT=$((CV_PORT_BASE + 88))       # tinyproxy without credentials
export CV_PROXY_AUTH_PORT=$((CV_PORT_BASE + 89))  # tinyproxy with BasicAuth
export CV_PROXY_USER="${CV_PROXY_USER:-proxyuser}"
export CV_PROXY_PASSWORD="${CV_PROXY_PASSWORD:-proxypass}"
# The TLS nginx: one port per server certificate (see tests/servers/nginx_tls.sh).
export CV_HTTPS_PORT=$((CV_PORT_BASE + 443))             # good, chain sent
export CV_HTTPS_EXPIRED_PORT=$((CV_PORT_BASE + 444))
export CV_HTTPS_WRONG_NAME_PORT=$((CV_PORT_BASE + 445))
export CV_HTTPS_UNTRUSTED_PORT=$((CV_PORT_BASE + 446))
export CV_HTTPS_LEAF_PORT=$((CV_PORT_BASE + 447))        # good, leaf only
export CV_HTTPS_UNTRUSTED_LEAF_PORT=$((CV_PORT_BASE + 448))
export CV_HTTPS_REDIRECT_PORT=$((CV_PORT_BASE + 449))    # plain http -> https
export CV_HTTPS_REVOKED_PORT=$((CV_PORT_BASE + 450))     # revoked, its list on the plain nginx
export CV_HTTPS_CRL_GOOD_PORT=$((CV_PORT_BASE + 451))    # not revoked, the same list
export CV_HTTPS_CRL_OFFLINE_PORT=$((CV_PORT_BASE + 452)) # a list where nothing answers
export CV_HTTPS_CLIENT_USAGE_PORT=$((CV_PORT_BASE + 453)) # for client authentication only
export CV_NTLM_PROXY_PORT=$((CV_PORT_BASE + 90))      # our proxy demanding an NTLM login
export CV_NEGOTIATE_PROXY_PORT=$((CV_PORT_BASE + 91)) # the same offering Negotiate, NTLM, Basic
export CV_BASIC_PROXY_PORT=$((CV_PORT_BASE + 92))     # the same offering Basic only
export CV_NTLM_USER="${CV_NTLM_USER:-ntlmuser}"
export CV_NTLM_DOMAIN="${CV_NTLM_DOMAIN:-CORP}"
export CV_NTLM_PASSWORD="${CV_NTLM_PASSWORD:-Ntlm-Pass1}"
# FTP is on port 21 by design, so each FTP server gets an address of its own.
export CV_FTP_ADDR="${CV_FTP_ADDR:-127.0.0.21}"          # vsftpd, passive allowed
export CV_FTP_ACTIVE_ADDR="${CV_FTP_ACTIVE_ADDR:-127.0.0.22}" # vsftpd, pasv_enable=NO
export CV_FTP_SCRIPTED_ADDR="${CV_FTP_SCRIPTED_ADDR:-127.0.0.23}" # scripted FTP server
export CV_SRV_DIR="$BUILD_DIR/srv"                  # servers' roots, logs, pids
export CV_WWW_DIR="$CV_SRV_DIR/www"                 # nginx document root
export CV_FTP_DIR="$CV_SRV_DIR/ftp"                 # vsftpd anonymous root
export CV_TLS_DIR="$CV_SRV_DIR/tls"                 # test authorities and certificates
export CV_RESULTS_DIR_NATIVE="$BUILD_DIR/native/test-results"

# Unix path -> the same file as a Windows program under Wine sees it.
cv_winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }
