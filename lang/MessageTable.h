// The numbered message table: every message key with its texts in three languages.
#pragma once

#include <span>

// Which lists a key belongs to.
enum class MessageGroup {
    Shown,     // built-in table and all three language files
    Unshown,   // built-in table, chn.lan and eng.lan; no window shows these texts
    FileOnly,  // chn.lan and eng.lan only
};

struct MessageEntry {
    const char* key;  // eight decimal digits
    MessageGroup group;
    const char* english;
    const char* simplified;   // chn.lan, and the built-in table unless builtIn is set
    const char* traditional;  // cht.lan; nullptr outside MessageGroup::Shown
    const char* builtIn;      // built-in text where it differs from `simplified`, else nullptr
};

// All entries in ascending key order. Texts are UTF-8.
std::span<const MessageEntry> MessageEntries();

// Whether the entry has a line in the built-in table, and the text it has there.
bool InBuiltInTable(const MessageEntry& entry);
const char* BuiltInText(const MessageEntry& entry);
