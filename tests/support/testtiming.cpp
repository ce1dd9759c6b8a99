#include "testtiming.h"

#ifndef COURIER_TEST_TIME_FACTOR
#define COURIER_TEST_TIME_FACTOR 1
#endif

int TestTiming::factor()
{
    return COURIER_TEST_TIME_FACTOR;
}

int TestTiming::scaled(int ms)
{
    return ms * factor();
}
