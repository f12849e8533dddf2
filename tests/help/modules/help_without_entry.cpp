// A module that loads but offers no HtmlHelpW: the loader must give up on it.

extern "C" __attribute__((visibility("default"))) int HtmlHelpA(int value)
{
    return value + 1;
}
