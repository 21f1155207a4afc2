// The HTTP client built for Windows: the same cases as the native tests,
// against the same servers, through Windows Sockets under Wine.
#include "../../unit/http/client_test.cpp"
