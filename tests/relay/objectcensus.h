#ifndef OBJECTCENSUS_H
#define OBJECTCENSUS_H

// Counts the QObjects alive in the process, of every thread, through Qt's tool hooks (the ones
// debuggers and inspectors use), so a test can see whether a long run leaves objects behind.
class ObjectCensus
{
public:
    ObjectCensus();
    ~ObjectCensus();
    ObjectCensus(const ObjectCensus &) = delete;
    ObjectCensus &operator=(const ObjectCensus &) = delete;

    // Objects made since the census began, minus those destroyed since.
    static int alive();
};

#endif // OBJECTCENSUS_H
