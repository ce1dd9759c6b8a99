// The texts winsim reads: Windows command lines, INF files and names that compare without case.
#include "winsim/commandline.h"
#include "winsim/inffile.h"
#include "winsim/spoolerstate.h"
#include "winsim/textcodec.h"

#include <QtTest>

namespace {

QStringList toList(const std::vector<std::string> &items)
{
    QStringList list;
    for (const auto &item : items)
        list << QString::fromStdString(item);
    return list;
}

} // namespace

class TestWinsimText : public QObject
{
    Q_OBJECT

private slots:
    void commandLineSplitsAsWindowsDoes_data();
    void commandLineSplitsAsWindowsDoes();
    void quotingRoundTrips();
    void infModelsFollowTheirDecoration();
    void shippedInfInstallsTheModel();
    void namesFoldBeyondAscii();
};

void TestWinsimText::commandLineSplitsAsWindowsDoes_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("plain") << "a b  c" << QStringList { "a", "b", "c" };
    QTest::newRow("tabs and edges") << "\t lead \t trail " << QStringList { "lead", "trail" };
    QTest::newRow("quoted printer") << R"(/if /b "My Printer" /r "REDadez001")"
                                    << QStringList { "/if", "/b", "My Printer", "/r", "REDadez001" };
    QTest::newRow("quotes inside a word") << R"(a"b c"d)" << QStringList { "ab cd" };
    QTest::newRow("empty argument") << R"(x "" y)" << QStringList { "x", "", "y" };
    QTest::newRow("backslashes stay") << R"(C:\dir\VarnPtr.INF)" << QStringList { R"(C:\dir\VarnPtr.INF)" };
    QTest::newRow("escaped quote") << R"(a\"b)" << QStringList { "a\"b" };
    QTest::newRow("backslash then escaped quote") << R"(a\\\"b)" << QStringList { R"(a\"b)" };
    QTest::newRow("even backslashes before a quote")
        << R"("C:\dir\\" next)" << QStringList { R"(C:\dir\)", "next" };
    QTest::newRow("doubled quote inside quotes") << R"("say ""hi""")" << QStringList { R"(say "hi")" };
    QTest::newRow("unterminated quote") << R"("open end)" << QStringList { "open end" };
    QTest::newRow("chinese") << R"(/n "测试 打印机")" << QStringList { "/n", "测试 打印机" };
}

void TestWinsimText::commandLineSplitsAsWindowsDoes()
{
    QFETCH(QString, line);
    QFETCH(QStringList, arguments);
    QCOMPARE(toList(winsim::splitWindowsCommandLine(line.toStdString())), arguments);
}

void TestWinsimText::quotingRoundTrips()
{
    const std::vector<std::string> arguments { "PRINTUI.DLL,PrintUIEntry", "/b", "My Printer", "",
        R"(C:\Program Files\dir\)", R"(quote"inside)", R"(\\server\share)", "tab\there", R"(trailing\\)" };
    const std::string line = winsim::joinWindowsCommandLine(arguments);
    QCOMPARE(toList(winsim::splitWindowsCommandLine(line)), toList(arguments));
    QCOMPARE(winsim::quoteWindowsArgument("REDadez001"), std::string("REDadez001"));
    QCOMPARE(winsim::quoteWindowsArgument("Varn VN-210K"), std::string("\"Varn VN-210K\""));
}

void TestWinsimText::infModelsFollowTheirDecoration()
{
    QTemporaryFile file;
    QVERIFY(file.open());
    // Written as UTF-16LE with a byte order mark, as many INF files are.
    const QString content = QStringLiteral("; a comment line\r\n"
                                           "[Version]\r\n"
                                           "Class=Printer\r\n"
                                           "DriverVer = 01/02/2023, 4.5.6.7 ; trailing comment\r\n"
                                           "[Manufacturer]\r\n"
                                           "%Mfg%=Acme,NTamd64.6.0,NTx86\r\n"
                                           "[Acme.NTamd64.6.0]\r\n"
                                           "%ModelA% = A_INSTALL, ACME_A1\r\n"
                                           "[Acme.NTx86]\r\n"
                                           "\"Acme, Old; Model\" = OLD.GPD\r\n"
                                           "[A_INSTALL]\r\n"
                                           "CopyFiles=@A1.GPD\r\n"
                                           "DataFile=A1.GPD\r\n"
                                           "[Strings]\r\n"
                                           "Mfg=\"Acme\"\r\n"
                                           "ModelA=\"Acme A-1\"\r\n");
    file.write("\xFF\xFE", 2);
    file.write(reinterpret_cast<const char *>(content.utf16()), content.size() * 2);
    file.close();

    winsim::InfFile inf;
    std::string error;
    QVERIFY2(inf.load(file.fileName().toStdString(), &error), error.c_str());
    QCOMPARE(inf.driverDate(), std::string("01/02/2023"));
    QCOMPARE(inf.driverVersion(), std::string("4.5.6.7"));
    const winsim::Environment &x64 = *winsim::findEnvironment("Windows x64");
    const winsim::Environment &x86 = *winsim::findEnvironment("Windows NT x86");

    const auto a1 = inf.model("acme a-1", x64);
    QVERIFY(a1);
    QCOMPARE(a1->name, std::string("Acme A-1"));
    QCOMPARE(inf.dataFile(a1->installSection), std::string("A1.GPD"));
    QVERIFY(!inf.model("Acme A-1", x86));
    const auto old = inf.model("Acme, Old; Model", x86);
    QVERIFY(old);
    QCOMPARE(inf.dataFile(old->installSection), std::string("OLD.GPD"));
    QVERIFY(!inf.model("Acme, Old; Model", x64));

    winsim::InfFile missing;
    QVERIFY(!missing.load("/nonexistent.inf", &error));
}

void TestWinsimText::shippedInfInstallsTheModel()
{
    winsim::InfFile inf;
    std::string error;
    QVERIFY2(inf.load(COURIER_SOURCE_DIR "/Driver/VarnPtr.INF", &error), error.c_str());
    QCOMPARE(inf.value("Version", "Class"), std::string("Printer"));
    QVERIFY(!inf.driverVersion().empty());
    for (const char *environment : { "Windows x64", "Windows NT x86" }) {
        const auto model = inf.model("Varn VN-210K", *winsim::findEnvironment(environment));
        QVERIFY2(model, environment);
        QCOMPARE(model->name, std::string("Varn VN-210K"));
        // The data file it names ships beside it.
        const QString gpd = QString::fromStdString(inf.dataFile(model->installSection));
        QVERIFY(QFile::exists(QStringLiteral(COURIER_SOURCE_DIR "/Driver/") + gpd));
        QVERIFY(QFile::exists(QStringLiteral(COURIER_BIN_DIR "/Driver/") + gpd));
    }
}

void TestWinsimText::namesFoldBeyondAscii()
{
    using winsim::foldedKey;
    QCOMPARE(foldedKey("Ärger Drucker"), foldedKey("äRGER dRUCKER"));
    QCOMPARE(foldedKey("Принтер"), foldedKey("ПРИНТЕР"));
    QCOMPARE(foldedKey("Ŀibre ŉ"), foldedKey("ŀIBRE ŉ"));
    QVERIFY(foldedKey("打印机 A") == foldedKey("打印机 a"));
    QVERIFY(foldedKey("Printer1") != foldedKey("Printer2"));
    const std::u16string withSurrogates = u"票据 🖨 ok";
    QCOMPARE(winsim::toUtf16(winsim::toUtf8(withSurrogates)), withSurrogates);
}

QTEST_GUILESS_MAIN(TestWinsimText)
#include "tst_winsimtext.moc"
