#ifndef TESTTIMING_H
#define TESTTIMING_H

// The suites' waits, stretched for builds that run slower than a plain one (sanitizer builds). A
// wait given here is how long a plain build may take at most on a loaded machine, never how long a
// step is expected to take: every wait ends as soon as its condition holds.
class TestTiming
{
public:
    // How many times slower this build runs than a plain one.
    static int factor();
    // The given wait in milliseconds, stretched by factor().
    static int scaled(int ms);
};

#endif // TESTTIMING_H
