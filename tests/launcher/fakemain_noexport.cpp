// A library that loads but has no mainStart.
extern "C" __attribute__((visibility("default"))) int somethingElse()
{
    return 1;
}
