// Calling a function of an object's function table with arguments known only at run time, as
// ITypeInfo::Invoke and the marshaler's stubs do, with the platform's calling convention (x86-64
// System V). Every automation type but floating point is passed as integer words: the first six
// (the object first) in registers, the rest on the stack in order; a structure of the memory class
// (a VARIANT passed by value) goes on the stack whole, in its place. Floating-point arguments by
// value are not supported: they would travel in vector registers.
#pragma once

#include "winerror.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

namespace platform {

class VtableCall {
public:
    using Word = std::uint64_t;
    static constexpr std::size_t RegisterWords = 6;
    static constexpr std::size_t MaxStackWords = 48;

    // False when the arguments would overflow the stack words.
    bool AddWord(Word word)
    {
        if (m_registers < RegisterWords) {
            m_registerWords[m_registers++] = word;
            return true;
        }
        return AddStack(&word, 1);
    }
    bool AddStack(const void* data, std::size_t words)
    {
        if (m_stack + words > MaxStackWords)
            return false;
        std::memcpy(&m_stackWords[m_stack], data, words * sizeof(Word));
        m_stack += words;
        return true;
    }
    // Calls function slot of the table of the object that the first word names.
    HRESULT Call(void* instance, std::size_t slot) const
    {
        void* function = (*static_cast<void***>(instance))[slot];
        return CallWith(function, std::make_index_sequence<MaxStackWords> {});
    }

private:
    template <std::size_t... I> HRESULT CallWith(void* function, std::index_sequence<I...>) const
    {
        // Words beyond the arguments are read by no one: the caller owns and pops the stack.
        using Function = HRESULT (*)(Word, Word, Word, Word, Word, Word, decltype((void)I, Word {})...);
        return reinterpret_cast<Function>(function)(m_registerWords[0], m_registerWords[1], m_registerWords[2],
            m_registerWords[3], m_registerWords[4], m_registerWords[5], m_stackWords[I]...);
    }

    Word m_registerWords[RegisterWords] {};
    Word m_stackWords[MaxStackWords] {};
    std::size_t m_registers = 0;
    std::size_t m_stack = 0;
};

}
