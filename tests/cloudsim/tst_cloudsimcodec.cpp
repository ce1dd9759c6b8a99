// The stand-in's own readers and writers, checked against Qt's Base64 and JSON as the reference.

#include "base64.h"
#include "commandline.h"
#include "jsonvalue.h"
#include "jsonwriter.h"
#include "simconfig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QtTest>

namespace {

// Decodes through the sink interface, joining the slices; null on failure.
QByteArray decodeAll(const QByteArray &text, int *slices = nullptr, std::string *error = nullptr)
{
    QByteArray out;
    int count = 0;
    std::string why;
    const bool ok = decodeBase64(
        std::string_view(text.constData(), size_t(text.size())),
        [&](const char *data, size_t n) {
            out.append(data, int(n));
            ++count;
            return true;
        },
        &why);
    if (slices)
        *slices = count;
    if (error)
        *error = why;
    return ok ? (out.isNull() ? QByteArray("") : out) : QByteArray();
}

JsonValue parse(const QByteArray &text, bool *ok, std::string *error = nullptr)
{
    return JsonValue::parse(std::string_view(text.constData(), size_t(text.size())), ok, error);
}

} // namespace

class TestCloudSimCodec : public QObject
{
    Q_OBJECT

private slots:
    void base64MatchesQt_data();
    void base64MatchesQt();
    void base64Refuses_data();
    void base64Refuses();
    void base64StopsWhenTheSinkDoes();
    void jsonStringsMatchQt_data();
    void jsonStringsMatchQt();
    void jsonRefuses_data();
    void jsonRefuses();
    void jsonPlainStringsAreNotCopied();
    void jsonNumbers();
    void writerOutputIsReadByQt();
    void configChangesAreAllOrNothing();
    void commandLine_data();
    void commandLine();
};

void TestCloudSimCodec::base64MatchesQt_data()
{
    QTest::addColumn<int>("size");
    for (int size = 0; size <= 8; ++size)
        QTest::addRow("%d bytes", size) << size;
    // Around the decoder's slice of 1.5 MiB.
    const int slice = 3 * 512 * 1024;
    for (int size : { slice - 1, slice, slice + 1, slice + 2, 2 * slice + 4 })
        QTest::addRow("%d bytes", size) << size;
}

void TestCloudSimCodec::base64MatchesQt()
{
    QFETCH(int, size);
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator { quint32(size) };
    for (int i = 0; i < size; ++i)
        bytes[i] = char(generator.bounded(256));
    const QByteArray text = bytes.toBase64();

    int slices = 0;
    const QByteArray decoded = decodeAll(text, &slices);
    QVERIFY(decoded == bytes);
    QCOMPARE(decodedBase64Size(std::string_view(text.constData(), size_t(text.size()))), size_t(size));
    QCOMPARE(slices, size == 0 ? 0 : (size + 3 * 512 * 1024 - 1) / (3 * 512 * 1024));
}

void TestCloudSimCodec::base64Refuses_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("one character") << QByteArray("Y");
    QTest::newRow("three characters") << QByteArray("YWJ");
    QTest::newRow("five characters") << QByteArray("YWJjZ");
    QTest::newRow("only padding") << QByteArray("====");
    QTest::newRow("three pads") << QByteArray("Y===");
    QTest::newRow("pad before a character") << QByteArray("YW=j");
    QTest::newRow("padding inside") << QByteArray("YQ==YWJj");
    QTest::newRow("line break") << QByteArray("YWJj\nYWJj");
    QTest::newRow("space") << QByteArray("YW Jj");
    QTest::newRow("URL-safe minus") << QByteArray("YW-j");
    QTest::newRow("URL-safe underscore") << QByteArray("YW_j");
    QTest::newRow("non-ASCII") << QByteArray("YW\xc3\xa9");
    QTest::newRow("NUL") << QByteArray("YW\0j", 4);
}

void TestCloudSimCodec::base64Refuses()
{
    QFETCH(QByteArray, text);
    std::string error;
    QVERIFY(decodeAll(text, nullptr, &error).isNull());
    QVERIFY(!error.empty());
}

void TestCloudSimCodec::base64StopsWhenTheSinkDoes()
{
    const QByteArray text = QByteArray(4 * 1024 * 1024, 'x').toBase64();
    int calls = 0;
    std::string error;
    QVERIFY(!decodeBase64(
        std::string_view(text.constData(), size_t(text.size())),
        [&](const char *, size_t) { return ++calls < 2; }, &error));
    QCOMPARE(calls, 2);
    QVERIFY(!error.empty());
}

void TestCloudSimCodec::jsonStringsMatchQt_data()
{
    QTest::addColumn<QByteArray>("literal");
    QTest::newRow("plain") << QByteArray(R"("0123456789ABCDEF")");
    QTest::newRow("empty") << QByteArray(R"("")");
    QTest::newRow("short escapes") << QByteArray(R"("a\"b\\c\/d\be\ff\ng\rh\ti")");
    QTest::newRow("BMP escapes") << QByteArray(R"("\u00e9\u6253\u5370\u0001")");
    QTest::newRow("surrogate pair") << QByteArray(R"("x\ud83d\ude00y")");
    QTest::newRow("raw UTF-8") << QByteArray("\"\xe6\x89\x93\xe5\x8d\xb0\xe6\x88\x90\xe5\x8a\x9f\"");
}

void TestCloudSimCodec::jsonStringsMatchQt()
{
    QFETCH(QByteArray, literal);
    const QByteArray document = "{\"k\":" + literal + "}";
    bool ok = false;
    const JsonValue value = parse(document, &ok);
    QVERIFY(ok);
    const JsonValue *member = value.member("k");
    QVERIFY(member && member->isString());
    const QString expected = QJsonDocument::fromJson(document).object().value(QStringLiteral("k")).toString();
    QCOMPARE(QString::fromStdString(member->toText()), expected);
}

void TestCloudSimCodec::jsonRefuses_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("nothing") << QByteArray();
    QTest::newRow("open object") << QByteArray("{");
    QTest::newRow("missing colon") << QByteArray(R"({"a" 1})");
    QTest::newRow("trailing comma") << QByteArray("[1,]");
    QTest::newRow("text after the value") << QByteArray("{} x");
    QTest::newRow("leading zero") << QByteArray("[01]");
    QTest::newRow("bare fraction point") << QByteArray("[1.]");
    QTest::newRow("cut literal") << QByteArray("[tru]");
    QTest::newRow("unknown escape") << QByteArray(R"(["\x"])");
    QTest::newRow("lone high surrogate") << QByteArray(R"(["\ud800"])");
    QTest::newRow("lone low surrogate") << QByteArray(R"(["\udc00"])");
    QTest::newRow("raw control character") << QByteArray("[\"a\x01\"]");
    QTest::newRow("unterminated string") << QByteArray(R"(["abc)");
    QTest::newRow("65 levels") << QByteArray(66, '[') + QByteArray(66, ']');
}

void TestCloudSimCodec::jsonRefuses()
{
    QFETCH(QByteArray, text);
    bool ok = true;
    std::string error;
    const JsonValue value = parse(text, &ok, &error);
    QVERIFY(!ok);
    QVERIFY(value.isNull());
    QVERIFY(error.find("offset") != std::string::npos);
}

void TestCloudSimCodec::jsonPlainStringsAreNotCopied()
{
    const QByteArray text
        = QJsonDocument(QJsonObject { { QStringLiteral("printData"), QStringLiteral("YWJj") },
                            { QStringLiteral("n"), QStringLiteral("a\nb") } })
              .toJson();
    bool ok = false;
    const JsonValue value = parse(text, &ok);
    QVERIFY(ok);
    const JsonValue *data = value.member("printData");
    QVERIFY(!data->hasEscapes());
    QVERIFY(data->rawText().data() >= text.constData()
        && data->rawText().data() + data->rawText().size() <= text.constData() + text.size());
    QCOMPARE(std::string(data->rawText()), std::string("YWJj"));
    QVERIFY(value.member("n")->hasEscapes());
    QCOMPARE(value.member("n")->toText(), std::string("a\nb"));

    // Sixty levels are still fine.
    const QByteArray deep = QByteArray(60, '[') + QByteArray(60, ']');
    parse(deep, &ok);
    QVERIFY(ok);
}

void TestCloudSimCodec::jsonNumbers()
{
    bool ok = false;
    const QByteArray text("[5, -1, 5.0, 1e3, 99999999999999999999, 0.25]"); // the value refers into it
    const JsonValue v = parse(text, &ok);
    QVERIFY(ok);
    const auto &items = v.items();
    QCOMPARE(int(items.size()), 6);
    int64_t n = 0;
    QVERIFY(items[0].toInt64(&n));
    QCOMPARE(n, int64_t(5));
    QVERIFY(items[1].toInt64(&n));
    QCOMPARE(n, int64_t(-1));
    QVERIFY(!items[2].toInt64(&n));
    QVERIFY(!items[3].toInt64(&n));
    QVERIFY(!items[4].toInt64(&n));
    QCOMPARE(items[5].toNumber(), 0.25);
}

void TestCloudSimCodec::writerOutputIsReadByQt()
{
    JsonWriter out;
    out.beginObject();
    out.key("code").value(0);
    out.key("msg").value("引号\" 反斜杠\\ 控制\x01\x1f 换行\n\t");
    out.key("data").beginObject().key("0123456789ABCDEF").value("正在打印").endObject();
    out.key("list").beginArray().value(true).value(false).null().value(int64_t(-7)).value(uint64_t(7));
    out.beginObject().endObject().beginArray().endArray().endArray();
    out.key("last").value(std::string("x"));
    out.endObject();

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(out.text()), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonObject expected {
        { QStringLiteral("code"), 0 },
        { QStringLiteral("msg"), QStringLiteral("引号\" 反斜杠\\ 控制\x01\x1f 换行\n\t") },
        { QStringLiteral("data"),
            QJsonObject { { QStringLiteral("0123456789ABCDEF"), QStringLiteral("正在打印") } } },
        { QStringLiteral("list"),
            QJsonArray { true, false, QJsonValue(), -7, 7, QJsonObject(), QJsonArray() } },
        { QStringLiteral("last"), QStringLiteral("x") },
    };
    QCOMPARE(document.object(), expected);
}

void TestCloudSimCodec::configChangesAreAllOrNothing()
{
    SimConfig config;
    std::string error;
    bool ok = false;
    QVERIFY(config.apply(parse(R"({"devices":{"A":"online","B":{"state":"offline","code":7}},
                                   "print":{"fault":"drop","skip":2,"count":1}})",
                             &ok),
        &error));
    QCOMPARE(int(config.devices.size()), 2);
    QCOMPARE(int(config.device("B").state), int(DeviceState::Offline));
    QCOMPARE(*config.device("B").code, int64_t(7));
    QCOMPARE(int(config.print.fault), int(Fault::Drop));
    QCOMPARE(config.print.skip, int64_t(2));
    QCOMPARE(int(config.device("C").state), int(DeviceState::Unknown));

    // A bad member anywhere leaves every other member as it was.
    QVERIFY(!config.apply(parse(R"({"devices":{"A":"unknown"},"pendingPolls":"3"})", &ok), &error));
    QVERIFY(!error.empty());
    QCOMPARE(int(config.devices.size()), 2);
    QCOMPARE(config.pendingPolls, int64_t(2));
    QVERIFY(!config.apply(parse(R"({"devices":{"A\u0001":"online"}})", &ok), &error));
    QVERIFY(!config.apply(parse(R"({"jobIdPrefix":"a+b"})", &ok), &error));
    QVERIFY(!config.apply(parse("[]", &ok), &error));

    QVERIFY(config.apply(parse(R"({"devices":{"A":"unknown","B":{"code":null}}})", &ok), &error));
    QCOMPARE(int(config.devices.size()), 1);
    QVERIFY(!config.device("B").code.has_value());
    QCOMPARE(int(config.device("B").state), int(DeviceState::Offline));

    // What write() says, apply() takes back unchanged.
    JsonWriter out;
    config.write(out);
    SimConfig copy;
    QVERIFY(copy.apply(parse(QByteArray::fromStdString(out.text()), &ok), &error));
    JsonWriter again;
    copy.write(again);
    QCOMPARE(again.text(), out.text());
}

void TestCloudSimCodec::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("ok");
    QTest::newRow("nothing") << QStringList() << true;
    QTest::newRow("sizes") << QStringList { "--max-body", "512M", "--port", "0" } << true;
    QTest::newRow("zero size") << QStringList { "--max-body", "0" } << false;
    QTest::newRow("size with junk") << QStringList { "--max-body", "12X" } << false;
    QTest::newRow("negative delay") << QStringList { "--state-delay", "-5" } << false;
    QTest::newRow("device without state") << QStringList { "--device", "ABC" } << false;
    QTest::newRow("device unknown") << QStringList { "--device", "ABC=unknown" } << false;
    QTest::newRow("bad shape") << QStringList { "--result-shape", "list" } << false;
    QTest::newRow("bad prefix") << QStringList { "--job-id-prefix", "a/b" } << false;
    QTest::newRow("config not JSON") << QStringList { "--config", "{" } << false;
    QTest::newRow("stray word") << QStringList { "serve", "now" } << false;
}

void TestCloudSimCodec::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(bool, ok);
    std::vector<std::string> argv;
    for (const QString &a : args)
        argv.push_back(a.toStdString());
    StartupOptions options;
    SimConfig config;
    std::string error;
    QCOMPARE(parseCommandLine(argv, &options, &config, &error), ok);
    QCOMPARE(error.empty(), ok);
    if (args.contains(QStringLiteral("512M")))
        QCOMPARE(options.maxBody, uint64_t(512) << 20);
}

QTEST_GUILESS_MAIN(TestCloudSimCodec)
#include "tst_cloudsimcodec.moc"
