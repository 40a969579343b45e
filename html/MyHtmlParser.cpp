// The parser behind createHtmlParser: MyHTML (from Debian's libmodest), parsing in single-thread
// mode, with the page decoded to UTF-8 beforehand.

#include "HtmlEncoding.h"
#include "MyHtmlDocument.h"
#include "MyHtmlTreeRules.h"

#include <mycore/myosi.h>
#include <mycore/utils/mchar_async.h>
#include <myhtml/parser.h>

#include <optional>

// Not in MyHTML's headers.
extern "C" void myhtml_insertion_fix_for_null_char_drop_all(myhtml_tree_t* tree, myhtml_token_node_t* token);

namespace {

// Every MyHTML routine the program replaces (MyHtmlTreeRules.cpp and the files it names, MyHtmlMemory.cpp). The
// library reaches them only through its symbol table, and the linker takes a file out of a static library only for
// a name something it has already taken needs: named here, beside createHtmlParser, they are linked into every
// program that parses, whichever file holds them.
[[gnu::used]] const void* const kReplacements[] = {
    reinterpret_cast<const void*>(&mchar_async_crop_first_chars_without_cache),
    reinterpret_cast<const void*>(&mchar_async_realloc),
    reinterpret_cast<const void*>(&mchar_async_cache_add),
    reinterpret_cast<const void*>(&mchar_async_cache_delete),
    reinterpret_cast<const void*>(&mycore_malloc),
    reinterpret_cast<const void*>(&mycore_realloc),
    reinterpret_cast<const void*>(&mycore_calloc),
    reinterpret_cast<const void*>(&mycore_free),
    reinterpret_cast<const void*>(&myhtml_tree_appropriate_place_inserting),
    reinterpret_cast<const void*>(&myhtml_tree_node_insert_text),
    reinterpret_cast<const void*>(&myhtml_tree_list_insert_by_index),
    reinterpret_cast<const void*>(&myhtml_tree_element_in_scope),
    reinterpret_cast<const void*>(&myhtml_tree_element_in_scope_by_node),
    reinterpret_cast<const void*>(&myhtml_tree_open_elements_find),
    reinterpret_cast<const void*>(&myhtml_tree_open_elements_remove),
    reinterpret_cast<const void*>(&myhtml_tree_open_elements_append_after_index),
    reinterpret_cast<const void*>(&myhtml_tree_active_formatting_append_with_check),
    reinterpret_cast<const void*>(&myhtml_tree_active_formatting_find),
    reinterpret_cast<const void*>(&myhtml_tree_active_formatting_remove),
    reinterpret_cast<const void*>(&myhtml_tree_active_formatting_remove_by_index),
    reinterpret_cast<const void*>(&myhtml_insertion_fix_for_null_char_drop_all),
    reinterpret_cast<const void*>(&myhtml_parser_token_data_to_string_charef),
};

// Feeds the whole input to the tree and ends the parse, mending what MyHTML gets wrong when the
// file ends in the middle of a tag. A browser shows a '<' that ends the file as text and drops a
// start tag the file cuts short; MyHTML turns the text before such a '<' into an element named
// after it, shows a cut tag name as text, and makes an element of a tag cut in its attributes.
// Its handling of a file that ends inside a quoted attribute value is right, so a cut tag is
// led there before the end; a final '<' in plain text goes in as its character reference.
mystatus_t parseToEnd(myhtml_tree_t* tree, std::string_view input)
{
    const MyHtmlTreeRules rules(tree);
    const bool endsInLessThan = !input.empty() && input.back() == '<';
    myhtml_encoding_set(tree, MyENCODING_UTF_8);
    mystatus_t status = myhtml_parse_chunk(tree, input.data(), input.size() - (endsInLessThan ? 1 : 0));
    if (status == MyHTML_STATUS_OK && endsInLessThan) {
        // In a tag's opening (after another '<') a character reference ends the tag the same way.
        const bool inText =
            tree->state == MyHTML_TOKENIZER_STATE_DATA || tree->state == MyHTML_TOKENIZER_STATE_TAG_OPEN;
        const std::string_view last = inText ? "&lt;" : "<";
        status = myhtml_parse_chunk(tree, last.data(), last.size());
    }
    std::string_view closing;
    switch (tree->state) {
    case MyHTML_TOKENIZER_STATE_TAG_NAME:
    case MyHTML_TOKENIZER_STATE_BEFORE_ATTRIBUTE_NAME:
    case MyHTML_TOKENIZER_STATE_ATTRIBUTE_NAME:
    case MyHTML_TOKENIZER_STATE_AFTER_ATTRIBUTE_NAME:
    case MyHTML_TOKENIZER_STATE_ATTRIBUTE_VALUE_UNQUOTED:
    case MyHTML_TOKENIZER_STATE_AFTER_ATTRIBUTE_VALUE_QUOTED:
    case MyHTML_TOKENIZER_STATE_SELF_CLOSING_START_TAG:
        closing = " a=\"";
        break;
    case MyHTML_TOKENIZER_STATE_BEFORE_ATTRIBUTE_VALUE:
        closing = "\"";
        break;
    default:
        break;
    }
    // The chunks stay in the tree's incoming buffers: these are string literals, so they outlive it.
    if (status == MyHTML_STATUS_OK && !closing.empty())
        status = myhtml_parse_chunk(tree, closing.data(), closing.size());
    const mystatus_t ended = myhtml_parse_chunk_end(tree);
    return status == MyHTML_STATUS_OK ? ended : status;
}

class MyHtmlParser final : public HtmlParser
{
public:
    MyHtmlParser() : m_engine(std::make_shared<MyHtmlEngine>()) {}

    Result<std::unique_ptr<HtmlDocument>> parse(const QByteArray& bytes) override
    {
        if (!m_engine->myhtml)
            return Failure{QStringLiteral("The HTML parser could not be started")};

        const std::string_view raw(bytes.constData(), std::size_t(bytes.size()));
        const HtmlEncoding::Detected detected = HtmlEncoding::detect(raw);
        const std::string_view content = raw.substr(detected.bomLength);

        // Everything is decoded to UTF-8 here, so no invalid sequence can reach the tree:
        // MyHTML's own legacy decoding was seen to let stray bytes through.
        std::optional<QByteArray> decoded = HtmlEncoding::toUtf8(content, detected);
        QByteArray converted = decoded ? std::move(*decoded) : bytes;
        const std::string_view input =
            decoded ? std::string_view(converted.constData(), std::size_t(converted.size())) : content;

        myhtml_tree_t* tree = m_engine->takeTree();
        if (!tree)
            return Failure{QStringLiteral("Out of memory (the document could not be created)")};
        const mystatus_t status = parseToEnd(tree, input);
        if (status != MyHTML_STATUS_OK) {
            m_engine->giveBack(tree);
            return Failure{QStringLiteral("The document could not be built (parser status %1)").arg(status)};
        }
        return std::unique_ptr<HtmlDocument>(std::make_unique<MyHtmlDocument>(m_engine, tree, std::move(converted)));
    }

private:
    std::shared_ptr<MyHtmlEngine> m_engine;
};

} // namespace

std::unique_ptr<HtmlParser> createHtmlParser()
{
    return std::make_unique<MyHtmlParser>();
}
