// A library for the module tests to load by its Windows name.
extern "C" __attribute__((visibility("default"))) int orvexTestModuleAnswer()
{
    return 42;
}
