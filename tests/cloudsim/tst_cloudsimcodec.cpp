#include <QtTest>
class TestCloudSimCodec : public QObject { Q_OBJECT };
QTEST_GUILESS_MAIN(TestCloudSimCodec)
#include "tst_cloudsimcodec.moc"
