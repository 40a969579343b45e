#include "DocumentLoader.h"

#include "FileSystem.h"

Result<std::unique_ptr<HtmlDocument>> LoadHtmlDocument(const QString& path, HtmlParser& parser)
{
    Result<QByteArray> bytes = FileSystem::readAll(path);
    if (!bytes)
        return bytes.failure();
    return parser.parse(*bytes);
}
