#ifndef JOBSIZETEXT_H
#define JOBSIZETEXT_H

#include <QString>

// A job's size as a person reads it: "512 B", "1.2 KB", "3.4 MB".
QString jobSizeText(qint64 bytes);

// The exact size, for where the short form is not enough: "1234 字节".
QString jobSizeBytesText(qint64 bytes);

#endif // JOBSIZETEXT_H
