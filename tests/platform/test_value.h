#pragma once
// The interface of the class store tests' module class. It lives in a header, with external
// linkage, so that the compiler cannot assume it knows every implementation of it.

#include "platform/com.h"

class ITestValue : public platform::IUnknown
{
public:
    static constexpr platform::Iid kIid
        = platform::MakeGuid("{0E9F7C51-3A2B-4C6D-8E1F-2A3B4C5D6E7F}");
    virtual int Value() = 0;
};

inline constexpr platform::Guid kTestModuleClass
    = platform::MakeGuid("{5B0C6A62-61E4-4B7E-9D55-7F1A3C2E9B10}");
