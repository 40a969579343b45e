#pragma once

#include <array>
#include <cstddef>

// The numbers the error report shows for the steps of a lower layer. The layer names its steps by an enum whose
// enumerators run from 0 and end with Count, which is no step; the window gives each step its number, so that the
// numbers live beside the report that shows them. The rows name every step once, in the enum's order: a table with a
// step missing, repeated or out of place does not compile, so no step can be reported without its number.
template <typename Step> class StepNumbers
{
public:
    static constexpr std::size_t kSteps = std::size_t(Step::Count);

    struct Row
    {
        Step step;
        int number;
    };

    consteval StepNumbers(const Row (&rows)[kSteps])
    {
        for (std::size_t i = 0; i < kSteps; ++i) {
            if (std::size_t(rows[i].step) != i)
                throw "a table of step numbers needs one row for each step, in the order of the enum";
            m_numbers[i] = rows[i].number;
        }
    }

    constexpr int operator[](Step step) const { return m_numbers[std::size_t(step)]; }

private:
    std::array<int, kSteps> m_numbers{};
};
