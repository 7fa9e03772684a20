#include "shell/file_dialog_filters.h"

#include <array>
#include <string_view>

#include "core/markdown_extensions.h"

namespace pellix {

namespace {

struct TextFileGroup {
    std::wstring_view label;
    std::wstring_view patterns;
};

constexpr std::array<TextFileGroup, 4> text_file_groups = {{
    {L"Text documents and logs", L"*.txt;*.text;*.log;*.nfo;README;LICENSE"},
    {L"Configuration files", L"*.ini;*.cfg;*.conf;*.config;*.properties;*.env;.env;.env.*"},
    {L"Structured text and data", L"*.json;*.jsonl;*.xml;*.yaml;*.yml;*.toml;*.csv;*.tsv"},
    {L"Source and script files",
     L"*.c;*.cpp;*.h;*.hpp;*.cc;*.cxx;*.py;*.js;*.jsx;*.ts;*.tsx;*.css;*.scss;*.html;*.htm;*.sh;"
     L"*.bash;*.bat;*.cmd;*.ps1;*.sql;Makefile"},
}};

void append_patterns(std::wstring& list, std::wstring_view patterns) {
    if (patterns.empty()) {
        return;
    }
    if (!list.empty()) {
        list += L';';
    }
    list += patterns;
}

std::wstring markdown_patterns() {
    std::wstring list;
    for (std::wstring_view extension : markdown_extensions) {
        append_patterns(list, L"*" + std::wstring(extension));
    }
    return list;
}

} // namespace

std::vector<FileDialogFilter> file_dialog_filters(bool with_text) {
    const std::wstring markdown = markdown_patterns();
    std::vector<FileDialogFilter> filters;
    if (with_text) {
        std::wstring all = markdown;
        for (const TextFileGroup& group : text_file_groups) {
            append_patterns(all, group.patterns);
        }
        filters.push_back({L"Text and Markdown files", all});
    }
    filters.push_back({L"Markdown files", markdown});
    for (const TextFileGroup& group : text_file_groups) {
        filters.push_back({std::wstring(group.label), std::wstring(group.patterns)});
    }
    filters.push_back({L"All files", L"*.*"});
    return filters;
}

} // namespace pellix
