/* A module that exists only to carry a version resource. */
int OrvandTestModule(void) { return 1; }
