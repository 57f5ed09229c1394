#pragma once
// The program's one display of failures that no handler took: a message box
// with the failure's text. Qt must never see an exception, so every slot that
// may fail hands it here.
#include <exception>
#include <functional>
#include <string>

using TExceptionDisplay = std::function<void(const std::string& Text)>;

void ShowException(const std::exception& E);
// Replaces the message box (tests observe failures without a modal box);
// returns the display that was in force.
TExceptionDisplay SetExceptionDisplay(TExceptionDisplay Display);
