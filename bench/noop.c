/* The floor for one call: a program that starts and exits, linked like the lookup programs. */
int main(void) { return 0; }
