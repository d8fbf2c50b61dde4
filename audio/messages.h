// SPDX-License-Identifier: GPL-3.0-or-later
// Where core code sends the texts a user must see. The program shows them
// in message boxes, the command-line tool prints them, tests record them.
#pragma once

#include <string>

inline constexpr const char *ApplicationTitle = "Tamblor Glimmerbox";

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // caption: the box's title; plain boxes carry the application title.
    virtual void ShowMessage(const std::string &text, const std::string &caption = ApplicationTitle) = 0;
};
