// An instrument as a tracker's instrument file (.fui, as the tracker's own format document
// describes it, at format version 228): its wave table, and its volume and pitch envelopes as
// macros, for the chip whose waves are 32 steps of the wave table's height.
//
// Every number is little-endian. The file:
//   "FINS", u16 the format version, u16 the instrument type (the chip)
//   then features, each a two-letter code, a u16 length of its data, and its data:
//   NA  the instrument's name in UTF-8, ending in a zero byte
//   MA  u16 the length of each macro's header (8), then each macro: u8 code (0 volume, 3 wave,
//       4 pitch), u8 length, u8 loop (the step it goes back to; 255 for none), u8 release (255:
//       none), u8 mode (for pitch: 0 absolute, 1 relative), u8 word size and view (bits 6-7: 0
//       for unsigned bytes, 1 for signed bytes; bit 0: shown open), u8 delay (0), u8 speed
//       (frames a step: 1), then its values; a code of 255 ends the macros
//   WL  u8 the number of wavetables (1), a u8 index for each (0, as the wave macro names it),
//       a u32 offset in the file for each
//   EN  the end of the features, with no length
// and after them the wavetable: "WAVE", u32 the length of what follows, its name (empty: one
// zero byte), u32 width (32), u32 reserved (0), u32 height (the largest value it may hold), and
// each value as a u32.
import { parseInstrument, rangeOf } from './draw.js';

const FORMAT_VERSION = 228;
// For each height of a wave table, the chip whose waves are 32 steps of it. Four chips play 16
// levels (the Game Boy's, the WonderSwan's and Namco's WSG with volumes to 15): the SM8521 plays
// its volume in 32 steps, the widest. For 64 and 256 levels the Virtual Boy and the SCC are the
// only ones.
export const CHIPS = {
    15: { type: 48, name: 'Sharp SM8521', volume: 31 },
    31: { type: 5, name: 'PC Engine', volume: 31 },
    63: { type: 16, name: 'Virtual Boy', volume: 15 },
    255: { type: 18, name: 'Konami SCC', volume: 15 },
};
const [VOLUME, WAVE, PITCH] = [0, 3, 4];
const [ABSOLUTE, RELATIVE] = [0, 1];
const MACRO_HEADER = 8;
const NO_STEP = 255;
const [UNSIGNED, SIGNED, OPEN] = [0x00, 0x40, 0x01];

const u16 = (value) => [value & 0xff, value >> 8];
const u32 = (value) => [0, 8, 16, 24].map((shift) => (value >>> shift) & 0xff);
const ascii = (text) => [...text].map((c) => c.charCodeAt(0));
const feature = (code, data) => [...ascii(code), ...u16(data.length), ...data];

// A macro of `values` (none: no macro) that goes back, after its last step, to the step after
// the envelope's loop mark.
function macro(code, values, loop, mode, signed) {
    if (values.length === 0)
        return [];
    const back = loop >= 0 && loop + 1 < values.length ? loop + 1 : NO_STEP;
    return [code, values.length, back, NO_STEP, mode, (signed ? SIGNED : UNSIGNED) | OPEN, 0, 1, ...values.map((value) => value & 0xff)];
}

// The instrument in keldo's `text` as a .fui named `name`, its pitch envelope as `pitchMode`
// plays it (relative for period and fine, absolute for semitones, left out when off). Returns
// the file's bytes, its chip, and whether a volume entry above the chip's range was held at its
// top.
export function fuiFile(text, name, pitchMode) {
    const { wave, volume, pitch } = parseInstrument(text);
    const height = rangeOf(wave.values);
    const chip = CHIPS[height];
    const levels = volume.values.map((value) => Math.min(value, chip.volume));
    const macros = [macro(VOLUME, levels, volume.loop, ABSOLUTE, false), macro(WAVE, [0], -1, ABSOLUTE, false)];
    if (pitchMode !== 'off')
        macros.push(macro(PITCH, pitch.values, pitch.loop, pitchMode === 'semitones' ? ABSOLUTE : RELATIVE, true));
    const head = [...ascii('FINS'), ...u16(FORMAT_VERSION), ...u16(chip.type)];
    const features = [...feature('NA', [...new TextEncoder().encode(name), 0]), ...feature('MA', [...u16(MACRO_HEADER), ...macros.flat(), 255])];
    const wavetableAt = head.length + features.length + feature('WL', Array(6)).length + 'EN'.length;
    const wavetable = [0, ...u32(wave.values.length), ...u32(0), ...u32(height), ...wave.values.flatMap(u32)];
    const bytes = Uint8Array.from([...head, ...features, ...feature('WL', [1, 0, ...u32(wavetableAt)]), ...ascii('EN'),
                                   ...ascii('WAVE'), ...u32(wavetable.length), ...wavetable]);
    return { bytes, chip, held: levels.some((level, i) => level !== volume.values[i]) };
}
