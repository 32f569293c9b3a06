#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

#include <optional>

// A profile (INI) file with the Windows semantics the configuration file has always had: section
// and key names compared without regard to case, a written key replaced in place, a new key added
// after the last key of its section, a new section at the end of the file, everything else
// (unknown sections and keys, comments, blank lines) kept as it was.
//
// One object is one pass: the constructor reads the file (a missing file is empty), the reads and
// writes work on that text, and save() puts it back atomically, so a crash or a full disk never
// leaves a half-written file. Text is in the system code page.
class ProfileFile {
public:
    // A text value is cut to this many characters when read.
    static constexpr int MaxTextLength = 2047;

    struct ColorRead {
        quint32 value = 0;
        QString error; // non-empty when the value is neither a colour name nor a number
    };

    explicit ProfileFile(const QString& fileName);

    QString fileName() const { return m_fileName; }
    // Non-empty when the file exists but could not be read; save() then refuses to replace it.
    QString loadError() const { return m_loadError; }
    bool isModified() const { return m_modified; }

    // Writes the file when something was written since it was read; returns an error text naming
    // the file, or an empty text on success.
    QString save();

    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;

    qint32 ReadInteger(const QString& section, const QString& key, qint32 defaultValue) const;
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;
    QString ReadString(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    double ReadDateTime(const QString& section, const QString& key, double defaultValue) const;
    ColorRead ReadColor(const QString& section, const QString& key, quint32 defaultValue) const;

    void WriteInteger(const QString& section, const QString& key, qint32 value);
    void WriteBool(const QString& section, const QString& key, bool value);
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteDateTime(const QString& section, const QString& key, double value);
    void WriteColor(const QString& section, const QString& key, quint32 value);

    // The encodings of the values, usable on their own.

    // Decimal, or hexadecimal with "$" or "0x"/"0X" (up to 0xFFFFFFFF, taken as 32-bit two's
    // complement); an optional sign; nothing else.
    static std::optional<qint32> parseInteger(const QString& text);
    // The regional short date (years widened to four digits) and, unless the time is 00:00:00,
    // a blank and the regional long time without a time zone.
    static QString dateTimeToText(double value, const QLocale& locale);
    static std::optional<double> dateTimeFromText(const QString& text, const QLocale& locale);
    // A colour's name when it has one, else "$" and eight upper-case hexadecimal digits.
    static QString colorToText(quint32 color);
    // A colour name (any case), or a decimal or "$" hexadecimal number.
    static std::optional<quint32> colorFromText(const QString& text);
    // The date and time formats used for date-time values in the given locale.
    static QString dateFormat(const QLocale& locale);
    static QString timeFormat(const QLocale& locale);

private:
    struct SectionRange {
        int header = -1; // line of "[name]", -1 when the section is missing
        int end = 0;     // first line after the section
    };

    SectionRange findSection(const QString& section) const;
    int findKey(const QString& section, const QString& key) const;
    std::optional<QString> readValue(const QString& section, const QString& key) const;
    void writeValue(const QString& section, const QString& key, const QString& value);

    QString m_fileName;
    QString m_loadError;
    QStringList m_lines;
    QString m_lineEnd;
    bool m_modified = false;
};
