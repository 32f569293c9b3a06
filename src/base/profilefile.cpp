#include "base/profilefile.h"

#include "base/datetimevalue.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <array>

namespace {

struct NamedColor {
    const char* name;
    quint32 value;
};

// The colour names of the configuration file. System colours are 0x80000000 plus the system
// colour index; values are 0x00BBGGRR.
constexpr std::array<NamedColor, 52> ColorNames{{
    {"clBlack", 0x000000},
    {"clMaroon", 0x000080},
    {"clGreen", 0x008000},
    {"clOlive", 0x008080},
    {"clNavy", 0x800000},
    {"clPurple", 0x800080},
    {"clTeal", 0x808000},
    {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0},
    {"clRed", 0x0000FF},
    {"clLime", 0x00FF00},
    {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},
    {"clFuchsia", 0xFF00FF},
    {"clAqua", 0xFFFF00},
    {"clWhite", 0xFFFFFF},
    {"clMoneyGreen", 0xC0DCC0},
    {"clSkyBlue", 0xF0CAA6},
    {"clCream", 0xF0FBFF},
    {"clMedGray", 0xA4A0A0},
    {"clActiveBorder", 0x8000000A},
    {"clActiveCaption", 0x80000002},
    {"clAppWorkSpace", 0x8000000C},
    {"clBackground", 0x80000001},
    {"clBtnFace", 0x8000000F},
    {"clBtnHighlight", 0x80000014},
    {"clBtnShadow", 0x80000010},
    {"clBtnText", 0x80000012},
    {"clCaptionText", 0x80000009},
    {"clDefault", 0x20000000},
    {"clGradientActiveCaption", 0x8000001B},
    {"clGradientInactiveCaption", 0x8000001C},
    {"clGrayText", 0x80000011},
    {"clHighlight", 0x8000000D},
    {"clHighlightText", 0x8000000E},
    {"clHotLight", 0x8000001A},
    {"clInactiveBorder", 0x8000000B},
    {"clInactiveCaption", 0x80000003},
    {"clInactiveCaptionText", 0x80000013},
    {"clInfoBk", 0x80000018},
    {"clInfoText", 0x80000017},
    {"clMenu", 0x80000004},
    {"clMenuBar", 0x8000001E},
    {"clMenuHighlight", 0x8000001D},
    {"clMenuText", 0x80000007},
    {"clNone", 0x1FFFFFFF},
    {"clScrollBar", 0x80000000},
    {"cl3DDkShadow", 0x80000015},
    {"cl3DLight", 0x80000016},
    {"clWindow", 0x80000005},
    {"clWindowFrame", 0x80000006},
    {"clWindowText", 0x80000008},
}};

// Signed decimal, or hexadecimal after "$" (and "0x"/"0X" when allowed). Hexadecimal reaches
// 0xFFFFFFFF and is taken as 32-bit two's complement, so "$FFFFFFFF" is -1 and colours such as
// "$80000008" fit; decimal must lie within the 32-bit signed range.
std::optional<qint32> parseNumber(QStringView text, bool allowZeroX) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    unsigned base = 10;
    if (text.mid(i).startsWith(u'$')) {
        base = 16;
        i += 1;
    } else if (allowZeroX && text.mid(i).startsWith(u"0x", Qt::CaseInsensitive)) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return std::nullopt;
    const quint64 limit = base == 16 ? 0xFFFFFFFFULL : (negative ? 0x80000000ULL : 0x7FFFFFFFULL);
    quint64 magnitude = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        unsigned digit = 0;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return std::nullopt;
        if (digit >= base)
            return std::nullopt;
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            return std::nullopt;
    }
    const auto bits = static_cast<quint32>(magnitude);
    return static_cast<qint32>(negative ? 0U - bits : bits);
}

std::optional<QString> sectionNameOf(const QString& line) {
    const QString text = line.trimmed();
    if (!text.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = text.indexOf(u']');
    return text.mid(1, close < 0 ? -1 : close - 1).trimmed();
}

// Comment lines (";" or "#") and lines without "=" hold no key; they are kept but never match.
std::optional<QString> keyNameOf(const QString& line) {
    const QString text = line.trimmed();
    if (text.isEmpty() || text.startsWith(u';') || text.startsWith(u'#') || text.startsWith(u'['))
        return std::nullopt;
    const qsizetype equals = text.indexOf(u'=');
    if (equals <= 0)
        return std::nullopt;
    const QString key = text.left(equals).trimmed();
    if (key.isEmpty())
        return std::nullopt;
    return key;
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool enclosedInQuotes(const QString& text) {
    return text.size() >= 2 && (text.front() == u'"' || text.front() == u'\'') &&
           text.back() == text.front();
}

// Removes the format letters of one kind, outside quoted literal text.
QString withoutFormatLetter(const QString& format, QChar letter) {
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (quoted || c != letter)
            result += c;
    }
    return result;
}

// A time format without its time zone: the zone is not part of a stored time of day and would
// not convert back on reading.
QString withoutTimeZone(const QString& format) {
    QString result = withoutFormatLetter(format, u't');
    result.remove(QStringLiteral("()"));
    return result.simplified();
}

QString localeDefaultLineEnd() {
#ifdef Q_OS_WIN
    return QStringLiteral("\r\n");
#else
    return QStringLiteral("\n");
#endif
}

QString nativeName(const QString& fileName) {
    return QDir::toNativeSeparators(fileName);
}

} // namespace

ProfileFile::ProfileFile(const QString& fileName)
    : m_fileName(fileName)
    , m_lineEnd(localeDefaultLineEnd()) {
    QFile file(m_fileName);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        m_loadError = QStringLiteral("Не удалось прочитать файл настроек \"%1\": %2")
                          .arg(nativeName(m_fileName), file.errorString());
        return;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        m_loadError = QStringLiteral("Не удалось прочитать файл настроек \"%1\": %2")
                          .arg(nativeName(m_fileName), file.errorString());
        return;
    }
    if (data.contains("\r\n"))
        m_lineEnd = QStringLiteral("\r\n");
    else if (data.contains('\n'))
        m_lineEnd = QStringLiteral("\n");

    QStringDecoder decode(QStringConverter::System);
    const QString text = decode(data);
    m_lines = text.split(u'\n');
    if (text.endsWith(u'\n') || text.isEmpty())
        m_lines.removeLast();
    for (QString& line : m_lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
    }
}

QString ProfileFile::save() {
    if (!m_loadError.isEmpty()) {
        return QStringLiteral("Файл настроек \"%1\" не записан: его не удалось прочитать.")
            .arg(nativeName(m_fileName));
    }
    if (!m_modified)
        return {};

    QStringEncoder encode(QStringConverter::System);
    QByteArray data;
    for (const QString& line : m_lines) {
        data += encode(line);
        data += encode(m_lineEnd);
    }

    const auto failure = [this](const QString& reason) {
        return QStringLiteral("Не удалось записать файл настроек \"%1\": %2")
            .arg(nativeName(m_fileName), reason);
    };
    QSaveFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly))
        return failure(file.errorString());
    if (file.write(data) != data.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return failure(reason);
    }
    if (!file.commit())
        return failure(file.errorString());
    m_modified = false;
    return {};
}

ProfileFile::SectionRange ProfileFile::findSection(const QString& section) const {
    SectionRange range;
    for (int i = 0; i < m_lines.size(); ++i) {
        const std::optional<QString> name = sectionNameOf(m_lines[i]);
        if (!name)
            continue;
        if (range.header >= 0) {
            range.end = i;
            return range;
        }
        if (sameName(*name, section))
            range.header = i;
    }
    range.end = static_cast<int>(m_lines.size());
    return range;
}

int ProfileFile::findKey(const QString& section, const QString& key) const {
    const SectionRange range = findSection(section);
    if (range.header < 0)
        return -1;
    for (int i = range.header + 1; i < range.end; ++i) {
        const std::optional<QString> name = keyNameOf(m_lines[i]);
        if (name && sameName(*name, key))
            return i;
    }
    return -1;
}

bool ProfileFile::SectionExists(const QString& section) const {
    return findSection(section).header >= 0;
}

bool ProfileFile::ValueExists(const QString& section, const QString& key) const {
    return findKey(section, key) >= 0;
}

std::optional<QString> ProfileFile::readValue(const QString& section, const QString& key) const {
    const int index = findKey(section, key);
    if (index < 0)
        return std::nullopt;
    const QString& line = m_lines[index];
    QString value = line.mid(line.indexOf(u'=') + 1).trimmed();
    if (enclosedInQuotes(value))
        value = value.mid(1, value.size() - 2);
    value.truncate(MaxTextLength);
    return value;
}

void ProfileFile::writeValue(const QString& section, const QString& key, const QString& value) {
    // A line break inside a value would end the line and let the rest pass for other keys.
    QString flat = value;
    flat.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    flat.replace(u'\r', u' ');
    flat.replace(u'\n', u' ');

    const int index = findKey(section, key);
    if (index >= 0) {
        const QString line = *keyNameOf(m_lines[index]) + u'=' + flat;
        if (line != m_lines[index]) {
            m_lines[index] = line;
            m_modified = true;
        }
        return;
    }

    const QString line = key + u'=' + flat;
    const SectionRange range = findSection(section);
    if (range.header < 0) {
        m_lines.append(u'[' + section + u']');
        m_lines.append(line);
    } else {
        // After the last key of the section, so blank lines and comments that precede the next
        // section stay where they are.
        int insertAt = range.header + 1;
        for (int i = range.header + 1; i < range.end; ++i) {
            if (keyNameOf(m_lines[i]))
                insertAt = i + 1;
        }
        m_lines.insert(insertAt, line);
    }
    m_modified = true;
}

qint32 ProfileFile::ReadInteger(const QString& section, const QString& key,
                                qint32 defaultValue) const {
    const std::optional<QString> text = readValue(section, key);
    if (!text)
        return defaultValue;
    return parseInteger(*text).value_or(defaultValue);
}

bool ProfileFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

QString ProfileFile::ReadString(const QString& section, const QString& key,
                                const QString& defaultValue) const {
    return readValue(section, key).value_or(defaultValue);
}

double ProfileFile::ReadDateTime(const QString& section, const QString& key,
                                 double defaultValue) const {
    const std::optional<QString> text = readValue(section, key);
    if (!text)
        return defaultValue;
    return dateTimeFromText(*text, QLocale::system()).value_or(defaultValue);
}

ProfileFile::ColorRead ProfileFile::ReadColor(const QString& section, const QString& key,
                                              quint32 defaultValue) const {
    const std::optional<QString> text = readValue(section, key);
    if (!text)
        return {defaultValue, {}};
    if (const std::optional<quint32> color = colorFromText(*text))
        return {*color, {}};
    return {defaultValue,
            QStringLiteral("Недопустимое значение цвета \"%1\" у ключа %2 раздела [%3] в файле "
                           "настроек \"%4\": ожидается имя цвета или число.")
                .arg(*text, key, section, nativeName(m_fileName))};
}

void ProfileFile::WriteInteger(const QString& section, const QString& key, qint32 value) {
    writeValue(section, key, QString::number(value));
}

void ProfileFile::WriteBool(const QString& section, const QString& key, bool value) {
    writeValue(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void ProfileFile::WriteString(const QString& section, const QString& key, const QString& value) {
    // Reading drops surrounding blanks and one pair of enclosing quotes; a text that has either
    // is written inside quotes so that it reads back unchanged.
    const bool needsQuotes =
        (!value.isEmpty() && (value.front().isSpace() || value.back().isSpace())) ||
        enclosedInQuotes(value);
    writeValue(section, key, needsQuotes ? u'"' + value + u'"' : value);
}

void ProfileFile::WriteDateTime(const QString& section, const QString& key, double value) {
    writeValue(section, key, dateTimeToText(value, QLocale::system()));
}

void ProfileFile::WriteColor(const QString& section, const QString& key, quint32 value) {
    writeValue(section, key, colorToText(value));
}

std::optional<qint32> ProfileFile::parseInteger(const QString& text) {
    return parseNumber(text, true);
}

QString ProfileFile::dateFormat(const QLocale& locale) {
    // A two-digit year would not read back to the same century.
    const QString format = locale.dateFormat(QLocale::ShortFormat);
    QString result;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u'y') {
            while (i < format.size() && format[i] == u'y')
                ++i;
            result += QStringLiteral("yyyy");
            continue;
        }
        result += c;
        ++i;
    }
    return result;
}

QString ProfileFile::timeFormat(const QLocale& locale) {
    return withoutTimeZone(locale.timeFormat(QLocale::LongFormat));
}

QString ProfileFile::dateTimeToText(double value, const QLocale& locale) {
    const QDateTime dateTime = fromDateTimeValue(value);
    if (!dateTime.isValid())
        return {};
    QString text = locale.toString(dateTime.date(), dateFormat(locale));
    const QTime time = dateTime.time();
    if (time.hour() != 0 || time.minute() != 0 || time.second() != 0)
        text += u' ' + locale.toString(time, timeFormat(locale));
    return text;
}

std::optional<double> ProfileFile::dateTimeFromText(const QString& text, const QLocale& locale) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const QString date = dateFormat(locale);
    // The long time is what is written; a short time (no seconds) is taken too, as typed by hand.
    for (const QString& time :
         {timeFormat(locale), withoutTimeZone(locale.timeFormat(QLocale::ShortFormat))}) {
        const QDateTime dateTime = locale.toDateTime(trimmed, date + u' ' + time);
        if (dateTime.isValid())
            return toDateTimeValue(dateTime);
    }
    const QDate dateOnly = locale.toDate(trimmed, date);
    if (dateOnly.isValid())
        return dateValue(dateOnly);
    return std::nullopt;
}

QString ProfileFile::colorToText(quint32 color) {
    for (const NamedColor& named : ColorNames) {
        if (named.value == color)
            return QString::fromLatin1(named.name);
    }
    return QStringLiteral("$%1").arg(color, 8, 16, QChar(u'0')).toUpper();
}

std::optional<quint32> ProfileFile::colorFromText(const QString& text) {
    const QString trimmed = text.trimmed();
    for (const NamedColor& named : ColorNames) {
        if (trimmed.compare(QLatin1StringView(named.name), Qt::CaseInsensitive) == 0)
            return named.value;
    }
    if (const std::optional<qint32> number = parseNumber(trimmed, false))
        return static_cast<quint32>(*number);
    return std::nullopt;
}
