/* The floor of a CGI request: a C program that only exits. */
int main(void) {
    return 0;
}
