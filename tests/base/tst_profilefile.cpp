#include "base/datetimevalue.h"
#include "base/profilefile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeAll(const QString& path, const QByteArray& data) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(data), data.size());
}

} // namespace

class TestProfileFile : public QObject {
    Q_OBJECT

private slots:
    void init();

    void writes_data();
    void writes();
    void readOnlyPassLeavesNoFile();
    void readsFindTheFirstMatchAnyCase();

    void textRead_data();
    void textRead();
    void textRoundTrip_data();
    void textRoundTrip();

    void integer_data();
    void integer();
    void boolean_data();
    void boolean();

    void colorText_data();
    void colorText();
    void colorRead_data();
    void colorRead();

    void dateTimeText_data();
    void dateTimeText();
    void dateTimeUnreadable_data();
    void dateTimeUnreadable();
    void dateTimeThroughFile();

    void saveFailureNamesFile();
    void readOnlyFolder();
    void unreadableFileIsNotReplaced();

private:
    // A file holding one key "[S] K=<raw>".
    ProfileFile fileWithValue(const QByteArray& raw);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

void TestProfileFile::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("kdm.ini"));
}

ProfileFile TestProfileFile::fileWithValue(const QByteArray& raw) {
    writeAll(m_path, "[S]\nK=" + raw + "\n");
    return ProfileFile(m_path);
}

void TestProfileFile::writes_data() {
    QTest::addColumn<QByteArray>("before");  // empty: no file
    QTest::addColumn<QStringList>("writes"); // "section|key|value"
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("missing file is created")
        << QByteArray() << QStringList{"S|K|v"} << QByteArray("[S]\nK=v\n");
    QTest::newRow("replaced in place, names of any case")
        << QByteArray("[settings]\ncomport=1\nOther=2\n") << QStringList{"SETTINGS|ComPort|5"}
        << QByteArray("[settings]\ncomport=5\nOther=2\n");
    QTest::newRow("blanks around the key are dropped on its line")
        << QByteArray("[A]\n  x  =  1  \ny=2\n") << QStringList{"A|X|9"}
        << QByteArray("[A]\nx=9\ny=2\n");
    QTest::newRow("new key after the last key of its section")
        << QByteArray("[A]\nx=1\n\n; about B\n[B]\ny=2\n") << QStringList{"A|z|3"}
        << QByteArray("[A]\nx=1\nz=3\n\n; about B\n[B]\ny=2\n");
    QTest::newRow("new key in an empty section")
        << QByteArray("[A]\n\n[B]\ny=2\n") << QStringList{"A|k|1"}
        << QByteArray("[A]\nk=1\n\n[B]\ny=2\n");
    QTest::newRow("new keys keep their order")
        << QByteArray("[A]\nx=1\n") << QStringList{"A|b|1", "A|a|2"}
        << QByteArray("[A]\nx=1\nb=1\na=2\n");
    QTest::newRow("new section at the end")
        << QByteArray("[A]\nx=1\n\n") << QStringList{"B|y|2", "A|x|3"}
        << QByteArray("[A]\nx=3\n\n[B]\ny=2\n");
    QTest::newRow("unknown lines, comments and keys outside sections kept")
        << QByteArray("; top\nloose=1\n[A]\nno equals sign\n# note\nx=1\nUnknown=7\n[Z]\nq=\n")
        << QStringList{"A|x|2", "Z|Q|4"}
        << QByteArray("; top\nloose=1\n[A]\nno equals sign\n# note\nx=2\nUnknown=7\n[Z]\nq=4\n");
    QTest::newRow("a commented key is not the key")
        << QByteArray("[A]\n;x=1\n") << QStringList{"A|x|2"} << QByteArray("[A]\nx=2\n;x=1\n");
    QTest::newRow("same key in another section untouched")
        << QByteArray("[A]\nx=1\n[B]\nx=1\n") << QStringList{"B|x|2"}
        << QByteArray("[A]\nx=1\n[B]\nx=2\n");
    QTest::newRow("first of two like-named sections")
        << QByteArray("[A]\nx=1\n[a]\nx=1\n") << QStringList{"a|x|2"}
        << QByteArray("[A]\nx=2\n[a]\nx=1\n");
    QTest::newRow("CR LF file stays CR LF")
        << QByteArray("[A]\r\nx=1\r\n") << QStringList{"A|y|2", "B|z|3"}
        << QByteArray("[A]\r\nx=1\r\ny=2\r\n[B]\r\nz=3\r\n");
    QTest::newRow("last line without line end")
        << QByteArray("[A]\nx=1") << QStringList{"A|y|2"} << QByteArray("[A]\nx=1\ny=2\n");
    QTest::newRow("section header with blanks")
        << QByteArray("  [ A ]  \nx=1\n") << QStringList{"a|x|2"} << QByteArray("  [ A ]  \nx=2\n");
    QTest::newRow("UTF-8 text kept") << QByteArray("[A]\nИмя=Кнопка\n") << QStringList{"A|x|Пуск"}
                                     << QByteArray("[A]\nИмя=Кнопка\nx=Пуск\n");
}

void TestProfileFile::writes() {
    QFETCH(QByteArray, before);
    QFETCH(QStringList, writes);
    QFETCH(QByteArray, after);

    if (!before.isEmpty())
        writeAll(m_path, before);
    ProfileFile file(m_path);
    for (const QString& write : writes) {
        const QStringList parts = write.split(u'|');
        file.WriteString(parts[0], parts[1], parts[2]);
    }
    QCOMPARE(file.save(), QString());
    QCOMPARE(readAll(m_path), after);
}

void TestProfileFile::readOnlyPassLeavesNoFile() {
    ProfileFile file(m_path);
    QCOMPARE(file.ReadInteger(QStringLiteral("S"), QStringLiteral("K"), 7), 7);
    QCOMPARE(file.save(), QString());
    QVERIFY(!QFile::exists(m_path));

    // Writing the value a key already has changes nothing, so nothing is written either.
    writeAll(m_path, "[S]\nK=5\n");
    ProfileFile same(m_path);
    same.WriteInteger(QStringLiteral("s"), QStringLiteral("k"), 5);
    QVERIFY(!same.isModified());
}

void TestProfileFile::readsFindTheFirstMatchAnyCase() {
    writeAll(m_path, "loose=9\n[Settings]\nComport=1\nCOMPORT=2\n[settings]\nComport=3\n[Other]\n");
    const ProfileFile file(m_path);
    QCOMPARE(file.ReadInteger(QStringLiteral("SETTINGS"), QStringLiteral("comport"), 0), 1);
    QCOMPARE(file.ReadInteger(QStringLiteral("Other"), QStringLiteral("Comport"), -1), -1);
    QCOMPARE(file.ReadInteger(QString(), QStringLiteral("loose"), -1), -1);
    QVERIFY(file.SectionExists(QStringLiteral("other")));
    QVERIFY(!file.SectionExists(QStringLiteral("Missing")));
    QVERIFY(file.ValueExists(QStringLiteral("settings"), QStringLiteral("comPort")));
    QVERIFY(!file.ValueExists(QStringLiteral("Other"), QStringLiteral("Comport")));
}

void TestProfileFile::textRead_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("expected");

    QTest::newRow("surrounding blanks") << QByteArray("  a b  ") << QStringLiteral("a b");
    QTest::newRow("tabs") << QByteArray("\tab\t") << QStringLiteral("ab");
    QTest::newRow("double quotes") << QByteArray("\" a \"") << QStringLiteral(" a ");
    QTest::newRow("single quotes") << QByteArray("'a'") << QStringLiteral("a");
    QTest::newRow("only one pair") << QByteArray("\"\"a\"\"") << QStringLiteral("\"a\"");
    QTest::newRow("quotes after blanks") << QByteArray("  \"a\"  ") << QStringLiteral("a");
    QTest::newRow("unmatched quote") << QByteArray("\"a") << QStringLiteral("\"a");
    QTest::newRow("mixed quotes") << QByteArray("\"a'") << QStringLiteral("\"a'");
    QTest::newRow("lone quote") << QByteArray("\"") << QStringLiteral("\"");
    QTest::newRow("empty quotes") << QByteArray("\"\"") << QString();
    QTest::newRow("present but empty is not the default") << QByteArray("") << QString();
    QTest::newRow("equals sign in the value") << QByteArray("a=b") << QStringLiteral("a=b");
    QTest::newRow("cut to 2047") << QByteArray(3000, 'x') << QString(2047, u'x');
    QTest::newRow("cut after the quotes go")
        << "\"" + QByteArray(2047, 'y') + "z\"" << QString(2047, u'y');
}

void TestProfileFile::textRead() {
    QFETCH(QByteArray, raw);
    QFETCH(QString, expected);
    const ProfileFile file = fileWithValue(raw);
    QCOMPARE(file.ReadString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("dflt")),
             expected);
    QCOMPARE(file.ReadString(QStringLiteral("S"), QStringLiteral("absent"), QStringLiteral("dflt")),
             QStringLiteral("dflt"));
}

void TestProfileFile::textRoundTrip_data() {
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("read");

    QTest::newRow("plain") << QStringLiteral("Пуск дозатора 1")
                           << QStringLiteral("Пуск дозатора 1");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("leading blank") << QStringLiteral(" a") << QStringLiteral(" a");
    QTest::newRow("trailing blank") << QStringLiteral("a ") << QStringLiteral("a ");
    QTest::newRow("enclosed in quotes") << QStringLiteral("\"a\"") << QStringLiteral("\"a\"");
    QTest::newRow("enclosed in apostrophes") << QStringLiteral("'a'") << QStringLiteral("'a'");
    QTest::newRow("quote inside") << QStringLiteral("a \"b\" c") << QStringLiteral("a \"b\" c");
    // A line break would split the line and could pass for further keys of the section.
    QTest::newRow("line breaks flattened")
        << QStringLiteral("a\nNext=1\r\nb\rc") << QStringLiteral("a Next=1 b c");
}

void TestProfileFile::textRoundTrip() {
    QFETCH(QString, written);
    QFETCH(QString, read);
    {
        ProfileFile file(m_path);
        file.WriteString(QStringLiteral("S"), QStringLiteral("K"), written);
        file.WriteInteger(QStringLiteral("S"), QStringLiteral("Next"), 2);
        QCOMPARE(file.save(), QString());
    }
    const ProfileFile file(m_path);
    QCOMPARE(file.ReadString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("dflt")),
             read);
    QCOMPARE(file.ReadInteger(QStringLiteral("S"), QStringLiteral("Next"), 0), 2);
}

void TestProfileFile::integer_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("expected"); // the default is -77

    QTest::newRow("decimal") << QByteArray("785") << 785;
    QTest::newRow("negative") << QByteArray("-7") << -7;
    QTest::newRow("plus sign") << QByteArray("+3") << 3;
    QTest::newRow("blanks around") << QByteArray("  42  ") << 42;
    QTest::newRow("0x") << QByteArray("0x2") << 2;
    QTest::newRow("0X") << QByteArray("0X1f") << 31;
    QTest::newRow("$") << QByteArray("$A") << 10;
    QTest::newRow("$ lower case") << QByteArray("$ff") << 255;
    QTest::newRow("negative $") << QByteArray("-$A") << -10;
    QTest::newRow("$FFFFFFFF is -1") << QByteArray("$FFFFFFFF") << -1;
    QTest::newRow("largest") << QByteArray("2147483647") << 2147483647;
    QTest::newRow("smallest") << QByteArray("-2147483648") << int(-2147483648LL);
    QTest::newRow("too large") << QByteArray("2147483648") << -77;
    QTest::newRow("too long hex") << QByteArray("$100000000") << -77;
    QTest::newRow("letters") << QByteArray("abc") << -77;
    QTest::newRow("empty") << QByteArray("") << -77;
    QTest::newRow("trailing letters") << QByteArray("12abc") << -77;
    QTest::newRow("blank inside") << QByteArray("1 2") << -77;
    QTest::newRow("fraction") << QByteArray("1.5") << -77;
    QTest::newRow("prefix alone") << QByteArray("0x") << -77;
    QTest::newRow("$ alone") << QByteArray("$") << -77;
    QTest::newRow("hex digit in decimal") << QByteArray("1A") << -77;
    QTest::newRow("sign alone") << QByteArray("-") << -77;
    QTest::newRow("non-ASCII digits") << QByteArray("٣") << -77;
    QTest::newRow("quoted") << QByteArray("\"15\"") << 15;
}

void TestProfileFile::integer() {
    QFETCH(QByteArray, raw);
    QFETCH(int, expected);
    const ProfileFile file = fileWithValue(raw);
    QCOMPARE(file.ReadInteger(QStringLiteral("S"), QStringLiteral("K"), -77), expected);
}

void TestProfileFile::boolean_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<bool>("withDefaultFalse");
    QTest::addColumn<bool>("withDefaultTrue");

    QTest::newRow("1") << QByteArray("1") << true << true;
    QTest::newRow("0") << QByteArray("0") << false << false;
    QTest::newRow("2 is true") << QByteArray("2") << true << true;
    QTest::newRow("-1 is true") << QByteArray("-1") << true << true;
    QTest::newRow("0x0 is false") << QByteArray("0x0") << false << false;
    QTest::newRow("yes gives the default") << QByteArray("yes") << false << true;
    QTest::newRow("true gives the default") << QByteArray("true") << false << true;
    QTest::newRow("empty gives the default") << QByteArray("") << false << true;
}

void TestProfileFile::boolean() {
    QFETCH(QByteArray, raw);
    QFETCH(bool, withDefaultFalse);
    QFETCH(bool, withDefaultTrue);
    const ProfileFile file = fileWithValue(raw);
    QCOMPARE(file.ReadBool(QStringLiteral("S"), QStringLiteral("K"), false), withDefaultFalse);
    QCOMPARE(file.ReadBool(QStringLiteral("S"), QStringLiteral("K"), true), withDefaultTrue);
}

void TestProfileFile::colorText_data() {
    QTest::addColumn<quint32>("color");
    QTest::addColumn<QString>("text");

    QTest::newRow("black") << 0x000000u << QStringLiteral("clBlack");
    QTest::newRow("pure red") << 0x0000FFu << QStringLiteral("clRed");
    QTest::newRow("blue in the high byte") << 0xFF0000u << QStringLiteral("clBlue");
    QTest::newRow("money green") << 0xC0DCC0u << QStringLiteral("clMoneyGreen");
    QTest::newRow("system colour") << 0x8000000Fu << QStringLiteral("clBtnFace");
    QTest::newRow("scroll bar, system index 0") << 0x80000000u << QStringLiteral("clScrollBar");
    QTest::newRow("window text") << 0x80000008u << QStringLiteral("clWindowText");
    QTest::newRow("3D light") << 0x80000016u << QStringLiteral("cl3DLight");
    QTest::newRow("default") << 0x20000000u << QStringLiteral("clDefault");
    QTest::newRow("none") << 0x1FFFFFFFu << QStringLiteral("clNone");
    QTest::newRow("unnamed") << 0x00ABCDEFu << QStringLiteral("$00ABCDEF");
    QTest::newRow("unnamed small") << 0x00000001u << QStringLiteral("$00000001");
    QTest::newRow("unnamed high bit") << 0xFFFFFFFFu << QStringLiteral("$FFFFFFFF");
}

void TestProfileFile::colorText() {
    QFETCH(quint32, color);
    QFETCH(QString, text);
    {
        ProfileFile file(m_path);
        file.WriteColor(QStringLiteral("Font"), QStringLiteral("Color"), color);
        QCOMPARE(file.save(), QString());
    }
    QCOMPARE(readAll(m_path), "[Font]\nColor=" + text.toLatin1() + "\n");
    const ProfileFile::ColorRead read =
        ProfileFile(m_path).ReadColor(QStringLiteral("Font"), QStringLiteral("Color"), 0x123u);
    QCOMPARE(read.error, QString());
    QCOMPARE(read.value, color);
}

void TestProfileFile::colorRead_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<quint32>("color");

    QTest::newRow("name any case") << QByteArray("clred") << true << 0x0000FFu;
    QTest::newRow("system name upper case") << QByteArray("CLWINDOWTEXT") << true << 0x80000008u;
    QTest::newRow("decimal") << QByteArray("255") << true << 255u;
    QTest::newRow("negative decimal") << QByteArray("-1") << true << 0xFFFFFFFFu;
    QTest::newRow("$") << QByteArray("$0000FF00") << true << 0x00FF00u;
    QTest::newRow("$ system colour") << QByteArray("$80000008") << true << 0x80000008u;
    QTest::newRow("letters") << QByteArray("abc") << false << 0u;
    QTest::newRow("misspelt name") << QByteArray("clRedd") << false << 0u;
    QTest::newRow("empty") << QByteArray("") << false << 0u;
    QTest::newRow("0x is not a colour number") << QByteArray("0xFF") << false << 0u;
    QTest::newRow("fraction") << QByteArray("12.5") << false << 0u;
    QTest::newRow("more than 32 bits") << QByteArray("$1FFFFFFFF") << false << 0u;
}

void TestProfileFile::colorRead() {
    QFETCH(QByteArray, raw);
    QFETCH(bool, valid);
    QFETCH(quint32, color);

    writeAll(m_path, "[Font]\nColor=" + raw + "\n");
    const ProfileFile::ColorRead read =
        ProfileFile(m_path).ReadColor(QStringLiteral("font"), QStringLiteral("color"), 0x123u);
    if (valid) {
        QCOMPARE(read.error, QString());
        QCOMPARE(read.value, color);
        return;
    }
    // The operator is shown this text: it must say which file, which key and what value.
    QVERIFY2(read.error.contains(QDir::toNativeSeparators(m_path)), qPrintable(read.error));
    QVERIFY2(read.error.contains(QStringLiteral("color")), qPrintable(read.error));
    QVERIFY2(read.error.contains(u'"' + QString::fromUtf8(raw) + u'"'), qPrintable(read.error));

    // An absent key is no error: it gives the default.
    const ProfileFile::ColorRead absent =
        ProfileFile(m_path).ReadColor(QStringLiteral("Font"), QStringLiteral("Other"), 0x123u);
    QCOMPARE(absent.error, QString());
    QCOMPARE(absent.value, 0x123u);
}

void TestProfileFile::dateTimeText_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QDateTime>("dateTime");
    QTest::addColumn<QString>("text");

    const QDateTime afternoon(QDate(2010, 2, 3), QTime(14, 5, 9));
    const QDateTime midnight(QDate(2010, 2, 3), QTime(0, 0));
    QTest::newRow("ru afternoon") << "ru_RU" << afternoon << "03.02.2010 14:05:09";
    QTest::newRow("ru midnight has no time") << "ru_RU" << midnight << "03.02.2010";
    QTest::newRow("ru one second past midnight")
        << "ru_RU" << QDateTime(QDate(2010, 2, 3), QTime(0, 0, 1)) << "03.02.2010 00:00:01";
    QTest::newRow("ru before 1899")
        << "ru_RU" << QDateTime(QDate(1899, 12, 29), QTime(6, 0)) << "29.12.1899 06:00:00";
    // Two-digit years are widened so that the century survives the round trip.
    QTest::newRow("de two-digit year widened") << "de_DE" << midnight << "03.02.2010";
    QTest::newRow("en_US 12-hour clock") << "en_US" << afternoon << "2/3/2010 2:05:09 PM";
    QTest::newRow("en_US year 1950")
        << "en_US" << QDateTime(QDate(1950, 7, 1), QTime(0, 0)) << "7/1/1950";
    QTest::newRow("C locale") << "C" << afternoon << "3 Feb 2010 14:05:09";
    // The time zone of the regional long time is left out: it would not read back.
    QTest::newRow("zone in parentheses dropped")
        << "fa_IR" << afternoon
        << QLocale(QStringLiteral("fa_IR")).toString(afternoon.date(), QStringLiteral("yyyy/M/d")) +
               u' ' +
               QLocale(QStringLiteral("fa_IR"))
                   .toString(afternoon.time(), QStringLiteral("H:mm:ss"));
}

void TestProfileFile::dateTimeText() {
    QFETCH(QString, locale);
    QFETCH(QDateTime, dateTime);
    QFETCH(QString, text);

    const QLocale l(locale);
    const double value = toDateTimeValue(dateTime);
    QCOMPARE(ProfileFile::dateTimeToText(value, l), text);
    QCOMPARE(ProfileFile::dateTimeFromText(text, l), std::optional<double>(value));
}

void TestProfileFile::dateTimeUnreadable_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");

    QTest::newRow("other regional format") << "ru_RU"
                                           << "2/3/2010 2:05:09 PM";
    QTest::newRow("garbage") << "ru_RU"
                             << "tomorrow";
    QTest::newRow("empty") << "ru_RU"
                           << "";
    QTest::newRow("no such day") << "ru_RU"
                                 << "31.02.2010";
    QTest::newRow("no such hour") << "ru_RU"
                                  << "03.02.2010 25:00:00";
    QTest::newRow("two-digit year") << "ru_RU"
                                    << "03.02.10";
    QTest::newRow("trailing text") << "ru_RU"
                                   << "03.02.2010 14:05:09 x";
}

void TestProfileFile::dateTimeUnreadable() {
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QCOMPARE(ProfileFile::dateTimeFromText(text, QLocale(locale)), std::nullopt);
}

void TestProfileFile::dateTimeThroughFile() {
    // A time typed by hand without seconds reads too.
    QCOMPARE(ProfileFile::dateTimeFromText(QStringLiteral("03.02.2010 14:05"),
                                           QLocale(QStringLiteral("ru_RU"))),
             std::optional<double>(toDateTimeValue(QDateTime(QDate(2010, 2, 3), QTime(14, 5)))));

    const double afternoon = toDateTimeValue(QDateTime(QDate(2010, 2, 3), QTime(14, 5, 9)));
    const double early = -1.25;
    {
        ProfileFile file(m_path);
        file.WriteDateTime(QStringLiteral("B"), QStringLiteral("A"), afternoon);
        file.WriteDateTime(QStringLiteral("B"), QStringLiteral("E"), early);
        QCOMPARE(file.save(), QString());
    }
    QFile append(m_path);
    QVERIFY(append.open(QIODevice::Append));
    append.write("Bad=32.13.2010 99:99\n");
    append.close();

    const ProfileFile file(m_path);
    QCOMPARE(file.ReadDateTime(QStringLiteral("B"), QStringLiteral("A"), 0.0), afternoon);
    QCOMPARE(file.ReadDateTime(QStringLiteral("B"), QStringLiteral("E"), 0.0), early);
    QCOMPARE(file.ReadDateTime(QStringLiteral("B"), QStringLiteral("Bad"), 123.0), 123.0);
    QCOMPARE(file.ReadDateTime(QStringLiteral("B"), QStringLiteral("Absent"), 456.0), 456.0);
}

void TestProfileFile::saveFailureNamesFile() {
    // The folder of the file is a plain file: nothing can be written there, not even by root.
    writeAll(m_dir->filePath(QStringLiteral("plain")), "x");
    const QString path = m_dir->filePath(QStringLiteral("plain/kdm.ini"));
    ProfileFile file(path);
    file.WriteInteger(QStringLiteral("ID"), QStringLiteral("ID_old"), 5);
    const QString error = file.save();
    QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
}

void TestProfileFile::readOnlyFolder() {
    const QString folder = m_dir->filePath(QStringLiteral("ro"));
    QVERIFY(QDir().mkdir(folder));
    const QString path = folder + QStringLiteral("/kdm.ini");
    writeAll(path, "[ID]\nID_old=4\n");
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                              QFile::ExeGroup));
    // root ignores permission bits; the immutable attribute stops it too, where it can be set.
    bool immutable = false;
    if (QFile probe(folder + QStringLiteral("/probe")); probe.open(QIODevice::WriteOnly)) {
        probe.close();
        probe.remove();
        immutable =
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), folder}) == 0;
    }
    const auto restore = qScopeGuard([&] {
        if (immutable)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), folder});
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    if (QFile probe(folder + QStringLiteral("/probe")); probe.open(QIODevice::WriteOnly)) {
        probe.remove();
        QSKIP("This folder cannot be made read-only here");
    }

    ProfileFile file(path);
    file.WriteInteger(QStringLiteral("ID"), QStringLiteral("ID_old"), 5);
    const QString error = file.save();
    QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    // Nothing was half-written: the old content is whole.
    QCOMPARE(readAll(path), QByteArray("[ID]\nID_old=4\n"));
}

void TestProfileFile::unreadableFileIsNotReplaced() {
    // A directory stands where the file should be: reading it fails, and a pass that writes must
    // not replace what it could not read.
    QVERIFY(QDir().mkdir(m_path));
    ProfileFile file(m_path);
    QVERIFY(!file.loadError().isEmpty());
    QCOMPARE(file.ReadInteger(QStringLiteral("S"), QStringLiteral("K"), 3), 3);
    file.WriteInteger(QStringLiteral("S"), QStringLiteral("K"), 5);
    const QString error = file.save();
    QVERIFY2(error.contains(QDir::toNativeSeparators(m_path)), qPrintable(error));
    QVERIFY(QFileInfo(m_path).isDir());
}

QTEST_GUILESS_MAIN(TestProfileFile)
#include "tst_profilefile.moc"
