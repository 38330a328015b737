// A program built without line information, for the case where the
// post-link step must refuse it rather than append empty tables.
int main() { return 0; }
