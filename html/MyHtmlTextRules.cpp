// MyHTML's handling of text: the NUL characters the tree builder drops, and the decoding of
// character references. The program's own versions of MyHTML's routines, which take the place of
// its own (see MyHtmlTreeRules.cpp), with or without a MyHtmlTreeRules scope.
// Only MyHTML calls them, so MyHtmlParser.cpp names them to have the linker take this file.

#include <mycore/incoming.h>
#include <myencoding/encoding.h>
#include <myhtml/charef.h>
#include <myhtml/data_process.h>
#include <myhtml/myhtml.h>
#include <myhtml/parser.h>
#include <myhtml/token.h>
#include <myhtml/tree.h>

#include <algorithm>
#include <cstring>
#include <string>

extern "C" void myhtml_insertion_fix_for_null_char_drop_all(myhtml_tree_t* tree, myhtml_token_node_t* token);

namespace {

bool isAsciiWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

} // namespace

extern "C" {

// Text outside raw-text elements, tables' text and selects loses its NUL characters (the tree
// builder ignores them there). The library's loop moves the text wrongly after a run of two or
// more, leaving stray bytes; and text left with nothing but white space counts as white space, so
// that a NUL alone does not end the chance of a frameset.
void myhtml_insertion_fix_for_null_char_drop_all(myhtml_tree_t* tree, myhtml_token_node_t* token)
{
    myhtml_token_node_wait_for_done(tree->token, token);
    mycore_string_t& text = token->str;
    std::size_t kept = 0;
    bool onlyWhiteSpace = true;
    for (std::size_t i = 0; i < text.length; ++i) {
        const char c = text.data[i];
        if (c == '\0')
            continue;
        text.data[kept++] = c;
        onlyWhiteSpace = onlyWhiteSpace && isAsciiWhiteSpace(c);
    }
    if (kept < text.length) {
        text.data[kept] = '\0';
        text.length = kept;
    }
    if (onlyWhiteSpace)
        token->type = myhtml_token_type(token->type | MyHTML_TOKEN_TYPE_WHITESPACE);
}

} // extern "C"

namespace {

// The end of a text or attribute value that stops inside a named reference with no semicolon, such as "x&noti" or
// title="&copys". The library writes the longest reference it matched and drops the letters it read past that name.
// A browser keeps them: in text the reference is decoded and the letters follow ("x¬i"); in an attribute value a
// reference followed by a letter, a digit or '=' stays as written ("&copys"), while one that ends the value is
// decoded.
void finishCharacterReferences(myhtml_data_process_entry_t* entry, mycore_string_t* str)
{
    const bool insideName =
        entry->state == myhtml_data_process_state_ampersand_data && entry->charef_res.last_entry != nullptr;
    if (!insideName || entry->tmp_str_pos + 2 > str->length) {
        myhtml_data_process_end(entry, str);
        return;
    }
    // The letters after the '&', matched again from the start to find where the longest reference name ends.
    const char* name = str->data + entry->tmp_str_pos + 1;
    const std::size_t letters = str->length - entry->tmp_str_pos - 1;
    charef_entry_result_t match{};
    match.curr_entry = myhtml_charef_get_first_position(name[0]);
    std::size_t offset = 1;
    if (match.curr_entry->ch != '\0' && letters > 1)
        myhtml_charef_find_by_pos(match.curr_entry->next, name, &offset, letters, &match);
    const charef_entry_t* found = match.last_entry;
    const std::size_t matched = found ? match.last_offset : 0;
    if (!found || matched == 0 || matched > letters || (entry->is_attributes && matched < letters)) {
        entry->state = myhtml_data_process_state_data;
        return;
    }
    char decoded[16];
    std::size_t decodedBytes = 0;
    for (std::size_t i = 0; i < found->codepoints_len && i < 2; ++i)
        decodedBytes += myencoding_codepoint_to_ascii_utf_8(found->codepoints[i], decoded + decodedBytes);
    const std::size_t rest = letters - matched;
    const std::size_t length = entry->tmp_str_pos + decodedBytes + rest;
    if (length + 1 > str->size)
        mycore_string_realloc(str, length + 1);
    char* at = str->data + entry->tmp_str_pos;
    std::memmove(at + decodedBytes, at + 1 + matched, rest);
    std::memcpy(at, decoded, decodedBytes);
    str->length = length;
    str->data[length] = '\0';
    entry->state = myhtml_data_process_state_data;
}

} // namespace

extern "C" {

// The text of a token, or an attribute's value, with its character references decoded. Its raw
// bytes may lie across two of the chunks the parser was fed (the program feeds a file's last '<'
// and the end of a cut tag as chunks of their own). The library decodes each piece on its own, and
// when a named reference that runs across the border ends on a shorter name found in the earlier
// piece (&noti + &lt; is &not followed by i<), it goes on from that name's end counted in the
// earlier piece, but reads the later one there: past its end, and losing what followed the name.
// Joined first, the bytes are decoded as one piece, the way text in a single chunk is.
size_t myhtml_parser_token_data_to_string_charef(myhtml_tree_t* tree, mycore_string_t* str,
                                                 myhtml_data_process_entry_t* proc_entry, size_t begin, size_t length)
{
    mycore_incoming_buffer_t* buffer = mycore_incoming_buffer_find_by_position(tree->incoming_buf_first, begin);
    std::size_t relative = begin - buffer->offset;
    if (relative + length <= buffer->size) {
        myhtml_data_process(proc_entry, str, buffer->data + relative, length);
    } else {
        std::string joined;
        joined.reserve(length);
        for (; buffer && joined.size() < length; buffer = buffer->next, relative = 0)
            joined.append(buffer->data + relative, std::min(buffer->size - relative, length - joined.size()));
        myhtml_data_process(proc_entry, str, joined.data(), joined.size());
    }
    finishCharacterReferences(proc_entry, str);
    return str->length;
}

} // extern "C"
