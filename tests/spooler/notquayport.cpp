// A shared library that loads but is not the port library: it has none of its exports.
extern "C" int NotQuayport()
{
    return 0;
}
