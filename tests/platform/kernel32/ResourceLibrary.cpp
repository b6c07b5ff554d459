// A library with resources of its own, loaded by the resource tests.
extern "C" int ResourceLibraryMarker()
{
    return 7;
}
