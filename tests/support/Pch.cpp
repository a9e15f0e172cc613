// Compiles the test programs' precompiled header once; they reuse it.
int main()
{
    return 0;
}
