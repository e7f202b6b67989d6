#pragma once

#include <string>
#include <vector>

#include "presenter/keys/Keyboard.h"

namespace orbilatch::testing {

// Records the chords it is asked to press and answers each with `failure`.
struct FakeKeyboard final : presenter::keys::Keyboard {
    explicit FakeKeyboard(std::string name = "a fake keyboard") : name(std::move(name)) {}

    std::optional<presenter::Failure> press(const presenter::keys::KeyChord& chord) override {
        pressed.push_back(chord.name());
        return failure;
    }
    std::string description() const override { return name; }

    std::string name;
    std::optional<presenter::Failure> failure;
    std::vector<std::string> pressed;
};

}  // namespace orbilatch::testing
