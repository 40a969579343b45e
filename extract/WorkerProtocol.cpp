#include "WorkerProtocol.h"

#include <QtEndian>

namespace WorkerProtocol {

namespace {

void appendLength(QByteArray& bytes, quint32 length)
{
    char field[4];
    qToLittleEndian<quint32>(length, field);
    bytes.append(field, 4);
}

// The mode byte at the front of a request; nothing unless it names a mode.
std::optional<ExtractionMode> modeAt(QByteArrayView payload)
{
    if (payload.isEmpty())
        return std::nullopt;
    return ModeFromNumber(static_cast<unsigned char>(payload[0]));
}

std::optional<QString> utf8(QByteArrayView bytes)
{
    if (!bytes.isValidUtf8())
        return std::nullopt;
    return QString::fromUtf8(bytes);
}

} // namespace

QByteArray encode(const ExtractRequest& request)
{
    return char(request.mode) + request.tagName.toUtf8();
}

QByteArray encode(const WholeRequest& request)
{
    QByteArray bytes(1, char(request.mode));
    appendLength(bytes, quint32(request.path.size()));
    bytes += request.path;
    bytes += request.tagName.toUtf8();
    return bytes;
}

QByteArray encode(const ExtractionFailure& failure)
{
    return char('0' + int(failure.stage)) + failure.description.toUtf8();
}

std::optional<ExtractRequest> decodeExtract(QByteArrayView payload)
{
    const std::optional<ExtractionMode> mode = modeAt(payload);
    if (!mode || !IsDocumentMode(*mode) || payload.size() > kMostRequestBytes)
        return std::nullopt;
    const std::optional<QString> tagName = utf8(payload.sliced(1));
    if (!tagName)
        return std::nullopt;
    return ExtractRequest{*mode, *tagName};
}

std::optional<WholeRequest> decodeWhole(QByteArrayView payload)
{
    const std::optional<ExtractionMode> mode = modeAt(payload);
    if (!mode || !IsDocumentMode(*mode) || payload.size() < 5 || payload.size() > kMostRequestBytes)
        return std::nullopt;
    const quint32 pathBytes = qFromLittleEndian<quint32>(payload.data() + 1);
    if (pathBytes > quint32(payload.size() - 5))
        return std::nullopt;
    const std::optional<QString> tagName = utf8(payload.sliced(5 + qsizetype(pathBytes)));
    if (!tagName)
        return std::nullopt;
    return WholeRequest{*mode, payload.sliced(5, qsizetype(pathBytes)).toByteArray(), *tagName};
}

std::optional<ExtractionFailure> decodeFailure(QByteArrayView payload)
{
    if (payload.isEmpty())
        return std::nullopt;
    const int stage = payload[0] - '0';
    if (stage < int(ExtractionStage::Read) || stage > int(ExtractionStage::Rows))
        return std::nullopt;
    return ExtractionFailure{ExtractionStage(stage), QString::fromUtf8(payload.sliced(1))};
}

void appendRow(std::string& frame, std::string_view row)
{
    char length[4];
    qToLittleEndian<quint32>(quint32(row.size()), length);
    frame.append(length, 4);
    frame.append(row);
}

bool forEachRow(QByteArrayView frame, const RowSink& sink)
{
    // Checked whole before any row goes out, so that a malformed frame hands over nothing.
    const char* const end = frame.data() + frame.size();
    for (const char* at = frame.data(); at != end;) {
        if (end - at < 4)
            return false;
        const quint32 length = qFromLittleEndian<quint32>(at);
        at += 4;
        if (quint32(end - at) < length)
            return false;
        at += length;
    }
    for (const char* at = frame.data(); at != end;) {
        const quint32 length = qFromLittleEndian<quint32>(at);
        sink(std::string_view(at + 4, length));
        at += 4 + length;
    }
    return true;
}

} // namespace WorkerProtocol
