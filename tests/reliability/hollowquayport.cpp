// Loads as the port library would, but has none of its exports: what a damaged or foreign file of
// that name gives the program.
extern "C" int QuayportVersion()
{
    return 0;
}
