/* (not written yet) */
int main(void) { return 0; }
