#include "common/manifest_v2.h"

#include "common/manifest_format.h"
#include "common/path_rules.h"
#include "common/user_error.h"
#include "crc/crc32.h"

namespace {

constexpr int kHeaderLines = 8;
constexpr int kLinesPerPart = 4;

// A line that breaks a rule: its index (from 0), what it should hold, what it holds and
// the rule. No value and no rule: the text ended before it. No name: one line too many.
struct Refusal {
    int index;
    QString what;
    QString value;
    QString rule;
};

// What line `index` (from 0) holds in a manifest of k data and m recovery parts.
QString lineName(int index, int k, int m) {
    static const char* const header[kHeaderLines] = {
        "the signature",          "the format version",          "the file name", "the file's CRC-32",
        "the number of data parts", "the number of recovery parts", "the file size", "the file's SHA-256"};
    if (index < kHeaderLines)
        return header[index];
    const int part = (index - kHeaderLines) / kLinesPerPart;
    if (part >= k + m)
        return index - kHeaderLines - (k + m) * kLinesPerPart == 0 ? "the comment" : "the description";
    static const char* const field[kLinesPerPart] = {"the URL", "the size", "the CRC-32", "the SHA-256"};
    const QString which = part < k ? QString("data part %1").arg(part + 1) : QString("recovery part %1").arg(part - k + 1);
    return QString(field[(index - kHeaderLines) % kLinesPerPart]) + " of " + which;
}

QString shown(const QString& value) {
    constexpr qsizetype kShown = 72;
    return VisibleName(value.left(kShown)) + (value.size() > kShown ? "..." : "");
}

class LineReader {
public:
    explicit LineReader(const QStringList& lines) : m_lines(lines) {}

    void setCounts(int k, int m) {
        m_k = k;
        m_m = m;
    }
    int size() const { return static_cast<int>(m_lines.size()); }

    [[noreturn]] void refuse(int index, const QString& rule) const {
        throw Refusal{index, lineName(index, m_k, m_m), m_lines.value(index), rule};
    }

    const QString& text(int index) const {
        if (index >= size())
            throw Refusal{index, lineName(index, m_k, m_m), {}, {}};
        const QString& line = m_lines[index];
        if (line.contains('\r') || line.contains('\n'))
            refuse(index, "it must be a single line");
        return line;
    }

    qint64 number(int index, qint64 max, const QString& rangeRule) const {
        const QString& line = text(index);
        const bool leadingZero = line.size() > 1 && line[0] == '0';
        if (line.isEmpty() || line.size() > 19 || leadingZero)
            refuse(index, kNumberRule);
        qint64 value = 0;
        for (const QChar c : line) {
            if (c < '0' || c > '9')
                refuse(index, kNumberRule);
            const int digit = c.unicode() - '0';
            if (value > (max - digit) / 10)
                refuse(index, rangeRule);
            value = value * 10 + digit;
        }
        return value;
    }

    uint32_t crc(int index) const {
        const QString& line = text(index);
        bool ok = line.size() == 8;
        for (const QChar c : line)
            ok = ok && ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
        if (!ok)
            refuse(index, "it must be 8 upper-case hexadecimal digits");
        return line.toUInt(nullptr, 16);
    }

    Sha256Digest sha256(int index) const {
        const QString& line = text(index);
        // Latin-1 of anything outside it is "?", which the digit check refuses.
        const std::optional<Sha256Digest> digest = Sha256FromText(line.toLatin1().toStdString());
        if (!digest)
            refuse(index, "it must be 64 lower-case hexadecimal digits");
        return *digest;
    }

private:
    static constexpr const char* kNumberRule = "it must be a decimal number without sign, spaces or leading zeros";
    const QStringList& m_lines;
    int m_k = 0;
    int m_m = 0;
};

qint64 expectedSize(const CodingLayout& layout, int part) {
    return part < layout.dataParts ? layout.dataPartSize(part) : layout.partSize;
}

QString sizeRule(const CodingLayout& layout, int part) {
    if (part >= layout.dataParts)
        return QString("every recovery part holds %1 bytes, as a full data part").arg(layout.partSize);
    if (part + 1 < layout.dataParts)
        return QString("every data part but the last holds %1 bytes").arg(layout.partSize);
    return QString("the last data part holds the %1 bytes left of %2").arg(layout.lastSize).arg(layout.fileSize);
}

ManifestV2 parse(const QStringList& lines) {
    LineReader in(lines);
    if (in.text(0) != QLatin1String(ManifestSignature))
        in.refuse(0, QString("it must be ") + ManifestSignature);
    if (in.text(1) != QLatin1String(ManifestVersion2))
        in.refuse(1, "it must be 2");
    ManifestV2 manifest;
    manifest.fileName = in.text(2);
    manifest.fileCrc = in.crc(3);
    const int k = static_cast<int>(in.number(4, kMaxCodingParts, "it must be 1 to 255"));
    if (k < 1)
        in.refuse(4, "it must be 1 to 255");
    const QString recoveryRule = QString("with %1 data parts it must be 0 to %2").arg(k).arg(kMaxCodingParts - k);
    const int m = static_cast<int>(in.number(5, kMaxCodingParts - k, recoveryRule));
    in.setCounts(k, m);
    const qint64 fileSize = in.number(6, kMaxCodedFileSize, QString("it must be at most %1 bytes").arg(kMaxCodedFileSize));
    const std::optional<CodingLayout> layout = MakeCodingLayout(fileSize, k, m);
    if (!layout)
        in.refuse(6, QString("%1 bytes are too few for %2 data parts of the same size but the last").arg(fileSize).arg(k));
    manifest.layout = *layout;
    manifest.fileSha256 = in.sha256(7);

    for (int part = 0; part < k + m; ++part) {
        const int first = kHeaderLines + part * kLinesPerPart;
        ManifestV2Part entry;
        entry.url = in.text(first);
        entry.size = in.number(first + 1, kMaxCodedFileSize, sizeRule(*layout, part));
        if (entry.size != expectedSize(*layout, part))
            in.refuse(first + 1, sizeRule(*layout, part));
        entry.crc = in.crc(first + 2);
        entry.sha256 = in.sha256(first + 3);
        (part < k ? manifest.data : manifest.recovery).append(entry);
    }
    const int notes = kHeaderLines + (k + m) * kLinesPerPart;
    if (in.size() > notes + 2)
        throw Refusal{notes + 2, {}, {}, {}};
    if (in.size() > notes)
        manifest.comment = in.text(notes);
    if (in.size() > notes + 1)
        manifest.description = in.text(notes + 1);
    return manifest;
}

QString refusalText(const Refusal& r) {
    const int line = r.index + 1;
    if (r.what.isEmpty())
        return QString("Refused: line %1 of this Parcelwick file is one too many: only the comment and the "
                       "description follow the parts.")
            .arg(line);
    if (r.rule.isEmpty())
        return QString("Refused: this Parcelwick file ends before line %1, %2.").arg(line).arg(r.what);
    return QString("Refused: line %1 of this Parcelwick file, %2, is \"%3\": %4.").arg(line).arg(r.what, shown(r.value), r.rule);
}

QStringList nonEmpty(const QStringList& lines) {
    QStringList kept;
    for (const QString& line : lines)
        if (!line.isEmpty())
            kept.append(line);
    return kept;
}

[[noreturn]] void cannotMake(const QString& why) { throw UserError("Cannot make the Parcelwick file: " + why); }

}  // namespace

QString ParseManifestV2(const QStringList& lines, ManifestV2& manifest) {
    try {
        manifest = parse(nonEmpty(lines));
        return {};
    } catch (const Refusal& refusal) {
        return refusalText(refusal);
    }
}

QStringList ManifestV2Lines(const ManifestV2& manifest) {
    const CodingLayout& layout = manifest.layout;
    if (manifest.data.size() != layout.dataParts || manifest.recovery.size() != layout.recoveryParts)
        cannotMake(QString("it lists %1 data and %2 recovery parts for a layout of %3 and %4.")
                       .arg(manifest.data.size())
                       .arg(manifest.recovery.size())
                       .arg(layout.dataParts)
                       .arg(layout.recoveryParts));
    QStringList lines{ManifestSignature,
                      ManifestVersion2,
                      manifest.fileName,
                      QString::fromStdString(Crc32Text(manifest.fileCrc)),
                      QString::number(layout.dataParts),
                      QString::number(layout.recoveryParts),
                      QString::number(layout.fileSize),
                      QString::fromStdString(Sha256Text(manifest.fileSha256))};
    for (const QList<ManifestV2Part>* parts : {&manifest.data, &manifest.recovery})
        for (const ManifestV2Part& part : *parts)
            lines << part.url << QString::number(part.size) << QString::fromStdString(Crc32Text(part.crc))
                  << QString::fromStdString(Sha256Text(part.sha256));
    const auto notes = static_cast<int>(lines.size());
    lines << manifest.comment << manifest.description;

    // An empty line would vanish on reading and shift every line after it.
    for (int i = 0; i < lines.size(); ++i) {
        const QString what = lineName(i, layout.dataParts, layout.recoveryParts);
        if (i < notes && lines[i].isEmpty())
            cannotMake(QString("line %1, %2, would be empty.").arg(i + 1).arg(what));
        if (lines[i].contains('\r') || lines[i].contains('\n'))
            cannotMake(QString("line %1, %2, would hold a line break.").arg(i + 1).arg(what));
    }
    try {
        const ManifestV2 back = parse(nonEmpty(lines));
        if (back.layout != layout || back.data != manifest.data || back.recovery != manifest.recovery)
            cannotMake("its layout does not agree with its file size and part counts.");
    } catch (const Refusal& r) {
        cannotMake(QString("line %1, %2, would be \"%3\": %4.").arg(r.index + 1).arg(r.what, shown(r.value), r.rule));
    }
    return lines;
}
