#include "WorkerProtocol.h"
#include "TempDir.h"
#include "WorkerProcess.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace WorkerProtocol;

namespace {

std::vector<std::string> rowsOf(QByteArrayView frame, bool* valid = nullptr)
{
    std::vector<std::string> rows;
    const bool ok = forEachRow(frame, [&rows](std::string_view row) { rows.emplace_back(row); });
    if (valid)
        *valid = ok;
    return rows;
}

} // namespace

TEST(WorkerProtocol, RequestsComeBackAsTheyWereSent)
{
    for (const ExtractionMode mode :
         {ExtractionMode::LeafTexts, ExtractionMode::ElementBlocks, ExtractionMode::TagNames}) {
        SCOPED_TRACE(int(mode));
        const std::optional<ExtractRequest> extract = decodeExtract(encode(ExtractRequest{mode, QStringLiteral("té")}));
        ASSERT_TRUE(extract.has_value());
        EXPECT_EQ(extract->mode, mode);
        EXPECT_EQ(extract->tagName, QStringLiteral("té"));

        // A path is the system's bytes, whatever they are.
        const QByteArray path("/pages/caf\xE9\n\0.html", 17);
        const std::optional<WholeRequest> whole = decodeWhole(encode(WholeRequest{mode, path, QStringLiteral("td")}));
        ASSERT_TRUE(whole.has_value());
        EXPECT_EQ(whole->mode, mode);
        EXPECT_EQ(whole->path, path);
        EXPECT_EQ(whole->tagName, QStringLiteral("td"));
    }
    for (const ExtractionStage stage : {ExtractionStage::Read, ExtractionStage::Parse, ExtractionStage::Rows}) {
        const std::optional<ExtractionFailure> failure =
            decodeFailure(encode(ExtractionFailure{stage, "Out of memory"}));
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->stage, stage);
        EXPECT_EQ(failure->description, "Out of memory");
    }
}

TEST(WorkerProtocol, FieldsThatNameNothingAreRefused)
{
    const QByteArray longTag(kMostRequestBytes, 'a');
    const struct
    {
        const char* name;
        QByteArray payload;
    } extracts[] = {
        {"empty", {}},
        {"mode 0", QByteArray(1, '\0') + "td"},
        {"mode 5", "\x05td"},
        {"mode 255", "\xFFtd"},
        {"mode 3 has no document", "\x03td"},
        {"a tag name that is not UTF-8", "\x02t\xFF"},
        {"too long", "\x02" + longTag},
    };
    for (const auto& c : extracts) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(decodeExtract(c.payload).has_value());
    }

    const QByteArray whole = encode(WholeRequest{ExtractionMode::ElementBlocks, "/a.html", "td"});
    QByteArray badMode = whole;
    badMode[0] = 7;
    QByteArray pathTooLong = whole;
    pathTooLong[1] = char(0xFF);
    const struct
    {
        const char* name;
        QByteArray payload;
    } wholes[] = {
        {"no length", "\x01\x01\x00"},
        {"an unknown mode", badMode},
        {"a path running past the request", pathTooLong},
        {"mode 3", encode(WholeRequest{ExtractionMode::MatchingLines, "/a.html", "td"})},
        {"too long", encode(WholeRequest{ExtractionMode::LeafTexts, "/a.html", longTag})},
    };
    for (const auto& c : wholes) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(decodeWhole(c.payload).has_value());
    }
    for (const QByteArray& failure : {QByteArray(), QByteArray("3x"), QByteArray("/x"), QByteArray("Rx")})
        EXPECT_FALSE(decodeFailure(failure).has_value()) << failure.toStdString();
}

TEST(WorkerProtocol, ARowsFrameCutShortHandsOverNothing)
{
    const std::vector<std::string> rows = {"", "one", std::string("n\0l", 3), std::string(70000, 'x'), "\r\n"};
    std::string frame;
    for (const std::string& row : rows)
        appendRow(frame, row);
    bool valid = false;
    EXPECT_EQ(rowsOf(QByteArrayView(frame.data(), qsizetype(frame.size())), &valid), rows);
    EXPECT_TRUE(valid);
    // Every cut that does not fall between two rows leaves a row running past the frame's end.
    std::size_t boundary = 0;
    std::vector<std::size_t> boundaries = {0};
    for (const std::string& row : rows)
        boundaries.push_back(boundary += 4 + row.size());
    for (std::size_t cut = 1; cut < frame.size(); cut += cut < 200 ? 1 : 997) {
        const bool atBoundary = std::find(boundaries.begin(), boundaries.end(), cut) != boundaries.end();
        const std::vector<std::string> handed = rowsOf(QByteArrayView(frame.data(), qsizetype(cut)), &valid);
        EXPECT_EQ(valid, atBoundary) << cut;
        if (!atBoundary) {
            EXPECT_TRUE(handed.empty()) << cut;
        }
    }
}

TEST(WorkerProtocol, AWorkerAnswersMalformedRequestsAndGoesOnServing)
{
    TempDir dir;
    const QString page = dir.write("p.html", "<p>one</p>");
    Result<std::unique_ptr<WorkerProcess>> started = WorkerProcess::start(QStringLiteral(QUILLORY_WORKER_PATH), {});
    ASSERT_TRUE(started.ok());
    WorkerProcess& worker = **started;
    char kind = 0;
    QByteArray payload;
    const struct
    {
        char kind;
        QByteArray payload;
        ExtractionStage stage;
    } requests[] = {
        {'X', "\x09p", ExtractionStage::Rows},                 // an unknown mode
        {'X', "\x01", ExtractionStage::Rows},                  // no document loaded yet
        {'W', "\x01\xFF\xFF\xFF\x7F", ExtractionStage::Parse}, // a path longer than the request
        {'Z', "", ExtractionStage::Parse},                     // an unknown request
    };
    for (const auto& r : requests) {
        SCOPED_TRACE(r.kind);
        ASSERT_TRUE(worker.send(r.kind, r.payload));
        ASSERT_TRUE(worker.receive(kind, payload));
        EXPECT_EQ(kind, char(Kind::Failed));
        const std::optional<ExtractionFailure> failure = decodeFailure(payload);
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->stage, r.stage);
    }
    ASSERT_TRUE(worker.send(char(Kind::Whole), encode(WholeRequest{ExtractionMode::LeafTexts, page.toUtf8(), {}})));
    ASSERT_TRUE(worker.receive(kind, payload));
    EXPECT_EQ(kind, char(Kind::Complete));
    ASSERT_TRUE(worker.receive(kind, payload));
    EXPECT_EQ(kind, char(Kind::Rows));
    EXPECT_EQ(rowsOf(payload), std::vector<std::string>{"one"});
    ASSERT_TRUE(worker.receive(kind, payload));
    EXPECT_EQ(kind, char(Kind::End));
}
