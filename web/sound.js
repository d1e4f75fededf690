// The note an instrument plays, as samples: keldo's text in, one second of samples out, for the
// player and the WAV file alike. No Web Audio and no page state here.
//
// The model, as a wavetable sound chip plays such an instrument:
// - The wave table's entries are one cycle of the wave at the note's frequency, each held for
//   its share of the cycle with no smoothing between entries. Values are centred on the middle
//   of the table's range (7.5 for a 4-bit table); a table whose entries are all equal is silent.
// - The range of the wave table, and of the volume envelope, is the smallest of 15, 31, 63 and
//   255 that holds its largest value (rangeOf, as the pictures use it).
// - The volume envelope gives the loudness, one entry per frame of 1/60 s, from entry 0. After
//   its last entry it goes on with the entries after the loop mark "|", over and over; without a
//   mark, or with the mark after the last entry, the last entry holds. No entries: full volume.
// - The pitch envelope is not played: what one of its steps means in pitch belongs to the sound
//   driver that plays the MML.
// - A full-range wave at full volume peaks at -2 dB of full scale, so that nothing clips.
import { parseInstrument, rangeOf } from './draw.js';

export const SAMPLE_RATE = 44100;
const SAMPLES = SAMPLE_RATE;  // one second
const FRAME = SAMPLE_RATE / 60;  // 735 samples
const PEAK = 10 ** (-2 / 20);

const NAMES = ['C', 'C#', 'D', 'D#', 'E', 'F', 'F#', 'G', 'G#', 'A', 'A#', 'B'];
// The notes from C2 to C7, each with its frequency in equal temperament, A4 = 440 Hz.
export const NOTES = Array.from({ length: 5 * 12 + 1 }, (_, i) => ({
    name: `${NAMES[i % 12]}${2 + Math.floor(i / 12)}`,
    frequency: 440 * 2 ** ((i + 24 - 57) / 12),
}));

// The volume entry that frame `frame` plays.
function volumeEntry({ values, loop }, frame) {
    if (frame < values.length)
        return values[frame];
    const first = loop + 1;  // the entry after the mark
    if (loop < 0 || first >= values.length)
        return values[values.length - 1];
    return values[first + ((frame - values.length) % (values.length - first))];
}

// One second of `text`'s instrument at `frequency`, as samples from -1 to 1; silence when the
// text holds no instrument.
export function renderNote(text, frequency) {
    const samples = new Float32Array(SAMPLES);
    const instrument = parseInstrument(text);
    if (!instrument)
        return samples;
    const wave = instrument.wave.values;
    if (wave.every((value) => value === wave[0]))
        return samples;
    const middle = rangeOf(wave) / 2;
    const volume = instrument.volume;
    const volumeRange = rangeOf(volume.values);
    for (let i = 0; i < SAMPLES; ++i) {
        const frame = Math.floor(i / FRAME);
        const loudness = volume.values.length === 0 ? 1 : volumeEntry(volume, frame) / volumeRange;
        const entry = wave[Math.floor((i * frequency * wave.length) / SAMPLE_RATE) % wave.length];
        samples[i] = PEAK * loudness * ((entry - middle) / middle);
    }
    return samples;
}
