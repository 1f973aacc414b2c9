// The oscilloscope double: a digital oscilloscope at the simulator's address
// (the same SCPI port and instrument), enough of its command set for one
// waveform capture of channel 1 as 8-bit samples:
//   HEADer ON|OFF                     answers with or without their headers (ON at start)
//   DATa:SOURce CH1..CH4
//   HORizontal:RECOrdlength n (also RECORDLEN), and its query
//   DATa:STARt n, DATa:STOP n         the part of the record CURVe? sends
//   WFMOutpre:YOFf?, WFMOutpre:YMUlt? vertical offset (levels) and multiplier (V/level)
//   DATa:ENCdg RIBinary|ASCIi, DATa:WIDth 1
//   CURVe?                            IEEE 488.2 definite-length block "#<d><count><bytes>"
// The waveform is a sine of 1,000 samples per period over the full 8-bit
// range with a little noise; it opens at its minimum, sample -128 (0x80), and
// holds every byte value, line feed included.
//
// Faults (EMULator:SCOPe:..., cleared by EMULator:RESet):
//   FAIL HEADer|SOURce|RECLength|RECQuery|YOFFset|YMULt|ENCoding|CURVe|NONE
//       the connection closes when that step's message arrives (a raw socket
//       shows a lost peer at the next exchange)
//   SHORt n        CURVe? sends only n samples (0: the whole part)
//   YOFFset v, YMULt v   the vertical offset and multiplier the queries report
// Each also as a query.
#pragma once

namespace emu {
// The module registers itself (QARN_EMU_MODULE in ScopeCommands.cpp).
}  // namespace emu
