/* A DLL that exists only to carry a version resource for the presence tests. */
int cv_version_probe(void) { return 1; }
