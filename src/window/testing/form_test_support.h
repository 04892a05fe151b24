#pragma once
// For tests of Form1: an environment that records the messages a form shows and the ends of
// the program it asks for, instead of opening message boxes and leaving the event loop.
#include "window/form1.h"

#include <vector>

namespace pelorin::window {

struct FormWatch {
    struct Message {
        MessageKind kind;
        QString text;
    };
    std::vector<Message> messages;
    int programEnds = 0;

    FormEnvironment Environment(FormModules* modules = nullptr, const QString& programFolder = {})
    {
        FormEnvironment environment;
        environment.modules = modules;
        environment.programFolder = programFolder;
        environment.showMessage = [this](MessageKind kind, const QString& text) {
            messages.push_back({ kind, text });
        };
        environment.endProgram = [this] { ++programEnds; };
        return environment;
    }
};

} // namespace pelorin::window
