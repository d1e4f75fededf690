// The sound of an instrument: one rendering code for the note a key holds, the note Play sounds
// and the WAV file Save as .wav saves. No Web Audio and no page state here: the page's audio
// worklet runs a Voice for as long as a key is down, and Save as .wav runs one for a second.
//
// The model, as a wavetable sound chip plays such an instrument:
// - The wave table's entries are one cycle of the wave at the note's frequency, each held for
//   its share of the cycle: a stepped wave. Values are centred on the middle of the table's
//   range (7.5 for a 4-bit table); a table whose entries are all equal is silent.
// - The stepped wave is rendered band-limited: the same ideal wave with each of its steps a
//   band-limited step, that is, every partial of it below half the sample rate and none above,
//   so that nothing folds back into the sound. Its steps then ripple a little around each value.
// - The range of the wave table, and of the volume envelope, is the smallest of 15, 31, 63 and
//   255 that holds its largest value (rangeOf, as the pictures use it).
// - The volume envelope gives the loudness, one entry per frame of 1/60 s, from entry 0. After
//   its last entry it goes on with the entries after the loop mark "|", over and over, for as
//   long as the note is held; without a mark, or with the mark after the last entry, the last
//   entry holds. No entries: full volume.
// - A note starts along a raised-cosine ramp of 2 ms from silence, and ends along one of 5 ms to
//   silence, whether its key is let go or its second (Play, Save as .wav) is over: never in one
//   step, so that neither end clicks.
// - The pitch envelope is not played: what one of its steps means in pitch belongs to the sound
//   driver that plays the MML.
// - A full-range wave at full volume peaks at -2 dB of full scale, before the ripple of its
//   steps, so that nothing clips.
import { parseInstrument, rangeOf } from './draw.js';

export const SAMPLE_RATE = 44100;  // of the WAV file
const FRAMES_A_SECOND = 60;
const ATTACK_SECONDS = 0.002;
const RELEASE_SECONDS = 0.005;
const PEAK = 10 ** (-2 / 20);
const CYCLE_SIZE = 4096;  // samples of the band-limited cycle, read with linear interpolation
const COSINE = Float64Array.from({ length: CYCLE_SIZE }, (_, i) => Math.cos((2 * Math.PI * i) / CYCLE_SIZE));

const NAMES = ['C', 'C#', 'D', 'D#', 'E', 'F', 'F#', 'G', 'G#', 'A', 'A#', 'B'];
// MIDI note numbers: 60 is C4, 69 is A4 at 440 Hz, in equal temperament.
export const noteName = (number) => `${NAMES[number % 12]}${Math.floor(number / 12) - 1}`;
export const frequencyOf = (number) => 440 * 2 ** ((number - 69) / 12);
// The notes that Play offers, from C2 to C7.
export const NOTES = Array.from({ length: 5 * 12 + 1 }, (_, i) => ({ name: noteName(36 + i), frequency: frequencyOf(36 + i) }));

// What of an instrument its sound needs, from keldo's text; null when the text holds none.
export function soundOf(text) {
    const instrument = parseInstrument(text);
    return instrument && { wave: instrument.wave.values, volume: { values: instrument.volume.values, loop: instrument.volume.loop } };
}

// The wave table's entries centred on the middle of its range, from -1 to 1 at full range.
export function centredWave(wave) {
    const middle = rangeOf(wave) / 2;
    return wave.map((value) => (value - middle) / middle);
}

// One cycle of the band-limited stepped wave of `wave` at `frequency`, from -1 to 1 for a
// full-range wave: the ideal stepped wave's partials below half the sample rate. Its partial k
// is the wave's discrete Fourier coefficient k times that of one step, (1 - e^-iθ) / (2πik)
// with θ = 2πk/32; every 32nd is zero.
function bandLimitedCycle(wave, frequency, sampleRate) {
    const centred = centredWave(wave);
    const n = centred.length;
    const cycle = new Float64Array(CYCLE_SIZE).fill(centred.reduce((sum, v) => sum + v, 0) / n);
    const partials = Math.min(Math.ceil(sampleRate / 2 / frequency) - 1, CYCLE_SIZE / 2 - 1);
    for (let k = 1; k <= partials; ++k) {
        let re = 0;
        let im = 0;
        centred.forEach((v, j) => {
            re += v * Math.cos((2 * Math.PI * k * j) / n);
            im -= v * Math.sin((2 * Math.PI * k * j) / n);
        });
        const theta = (2 * Math.PI * k) / n;
        const [stepRe, stepIm] = [Math.sin(theta) / (2 * Math.PI * k), -(1 - Math.cos(theta)) / (2 * Math.PI * k)];
        // Twice the real part of c e^{2πikt}: the partial's cosine and sine parts.
        const a = 2 * (re * stepRe - im * stepIm);
        const b = -2 * (re * stepIm + im * stepRe);
        for (let i = 0, at = 0; i < CYCLE_SIZE; ++i, at = (at + k) & (CYCLE_SIZE - 1))
            cycle[i] += a * COSINE[at] + b * COSINE[(at + (3 * CYCLE_SIZE) / 4) & (CYCLE_SIZE - 1)];
    }
    return cycle;
}

// The volume entry that frame `frame` plays.
function volumeEntry({ values, loop }, frame) {
    if (frame < values.length)
        return values[frame];
    const first = loop + 1;  // the entry after the mark
    if (loop < 0 || first >= values.length)
        return values[values.length - 1];
    return values[first + ((frame - values.length) % (values.length - first))];
}

// One note of `sound` (from soundOf) at `frequency`: samples from -1 to 1, as many as asked at a
// time, until it is released, or until `length` samples when that is given.
export class Voice {
    constructor(sound, frequency, sampleRate, length = null) {
        const wave = sound?.wave ?? [];
        this.cycle = wave.some((value) => value !== wave[0]) ? bandLimitedCycle(wave, frequency, sampleRate) : null;
        this.step = (frequency * CYCLE_SIZE) / sampleRate;
        this.phase = 0;
        this.volume = sound?.volume;
        this.volumeRange = rangeOf(this.volume?.values ?? []);
        this.frameLength = sampleRate / FRAMES_A_SECOND;
        this.time = 0;
        this.attackLength = Math.round(ATTACK_SECONDS * sampleRate);
        this.releaseLength = Math.round(RELEASE_SECONDS * sampleRate);
        this.releasedAt = length === null ? Infinity : length - this.releaseLength;
    }

    // Starts the ramp to silence, now.
    release() {
        this.releasedAt = Math.min(this.releasedAt, this.time);
    }

    loudness() {
        const values = this.volume?.values ?? [];
        const frame = Math.floor(this.time / this.frameLength);
        const level = values.length === 0 ? 1 : volumeEntry(this.volume, frame) / this.volumeRange;
        const rise = this.time / this.attackLength;
        const fall = (this.time - this.releasedAt) / this.releaseLength;
        const attack = rise >= 1 ? 1 : (1 - Math.cos(Math.PI * rise)) / 2;
        return fall <= 0 ? attack * level : fall >= 1 ? 0 : (attack * level * (1 + Math.cos(Math.PI * fall))) / 2;
    }

    // Fills `out` with the next samples; returns whether the note sounds on after them.
    render(out) {
        for (let i = 0; i < out.length; ++i, ++this.time) {
            const loudness = this.cycle ? this.loudness() : 0;
            const index = Math.floor(this.phase);
            const [from, to] = [this.cycle?.[index] ?? 0, this.cycle?.[(index + 1) % CYCLE_SIZE] ?? 0];
            out[i] = PEAK * loudness * (from + (to - from) * (this.phase - index));
            this.phase = (this.phase + this.step) % CYCLE_SIZE;
        }
        return this.time < this.releasedAt + this.releaseLength;
    }
}

// One second of `text`'s instrument at `frequency`, as samples from -1 to 1, ending in the ramp;
// silence when the text holds no instrument.
export function renderNote(text, frequency) {
    const samples = new Float32Array(SAMPLE_RATE);
    new Voice(soundOf(text), frequency, SAMPLE_RATE, samples.length).render(samples);
    return samples;
}
