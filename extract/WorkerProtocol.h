#pragma once

#include "DocumentSource.h"
#include "ExtractionMode.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <string>
#include <string_view>

// The conversation between the program and a worker process that parses pages for it (see DocumentWorker and
// ServeDocuments), in frames of a kind byte and a payload (WorkerProcess carries them). Both ends encode and decode
// every frame here, and every field read from the other end is checked: a frame that does not decode is a protocol
// failure that costs the file it was about, never undefined behaviour.
//
//   request  Load     the path             answered by Complete, or Failed
//   request  Extract  mode, tag name       answered by Rows frames, then End or Failed (document modes)
//   request  Whole    mode, path, tag name answered by Complete or Failed, then as an Extract (document modes)
//   reply    Failed   stage, description
//   reply    Rows     rows, each a 32-bit length and its bytes
namespace WorkerProtocol {

enum class Kind : char
{
    Load = 'L',
    Extract = 'X',
    Whole = 'W',
    Complete = 'C',
    Failed = 'F',
    Rows = 'R',
    End = 'E',
};

// A worker whose memory ran out ends with this status, so that its file gets the out-of-memory report. It is one no
// runtime gives on its own: abort() ends a Windows program with 3, and an aborted worker is no out-of-memory one.
inline constexpr int kOutOfMemoryStatus = 86;

// Requests hold a path and a tag name; anything longer is no request of ours.
inline constexpr qsizetype kMostRequestBytes = qsizetype(1) << 20;
// Rows go out in frames of about this size (a longer row makes a longer frame).
inline constexpr std::size_t kRowFrameBytes = 65536;

struct ExtractRequest
{
    ExtractionMode mode;
    QString tagName;
};

struct WholeRequest
{
    ExtractionMode mode;
    QByteArray path; // as the system spells it
    QString tagName;
};

QByteArray encode(const ExtractRequest& request);
QByteArray encode(const WholeRequest& request);
QByteArray encode(const ExtractionFailure& failure);
std::optional<ExtractRequest> decodeExtract(QByteArrayView payload);
std::optional<WholeRequest> decodeWhole(QByteArrayView payload);
std::optional<ExtractionFailure> decodeFailure(QByteArrayView payload);

// Appends one row to a Rows frame being filled.
void appendRow(std::string& frame, std::string_view row);
// Hands every row of a Rows frame to sink; false when the frame is malformed (a row running past its end), in which
// case no row of it was handed over.
bool forEachRow(QByteArrayView frame, const RowSink& sink);

} // namespace WorkerProtocol
