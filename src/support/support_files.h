#pragma once
// The files shipped beside the program that start-up puts to work, and the compressor
// the codec installer adds.

namespace support {

// The resizer, an in-process server registered at every start.
inline constexpr char16_t kResizerModule[] = u"DidirizaDezuzev.dll";
// The capture library, registered when no video compressor could be chosen.
inline constexpr char16_t kCaptureModule[] = u"qcap.dll";
// The converter (a program despite its name) and the libraries it loads, in the order
// they are copied into the system folder: the libraries first, the converter last.
inline constexpr char16_t kConverterFile[] = u"KelvoraCfg.dll";
inline constexpr const char16_t *kConverterFiles[]
    = {u"avformat.dll", u"avutil.dll", u"avcodec.dll", kConverterFile};
// The installer of the preferred video compressor, and that compressor's friendly name.
inline constexpr char16_t kCodecInstaller[] = u"wmv9VCMsetup.exe";
inline constexpr char16_t kPreferredVideoCompressor[] = u"Microsoft Windows Media Video 9";
// The registration tool, started through the shell.
inline constexpr char16_t kRegistrationTool[] = u"regsvr32";

} // namespace support
