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
// - The pitch envelope runs as the volume envelope does, one entry a frame (none: no change),
//   and moves the pitch at the start of each frame, the wave's phase going on without a jump.
//   What an entry means belongs to the sound driver that plays the MML, so the page asks, and
//   each mode assumes one driver:
//   - period: the entry is added to the note's period, as a chip with a period register counts
//     it (a 3,579,545 Hz clock, 32 steps a cycle: period P sounds 3579545 / (32 P) Hz, the
//     note's own period being the nearest whole P), and the sum goes on from frame to frame: a
//     positive entry lowers the pitch, as a longer period does;
//   - fine: the entry, in sixteenths of a semitone, is added to the pitch, and the sum goes on;
//   - semitones: the pitch is the note's plus the entry in semitones, frame by frame;
//   - off: the pitch envelope is not played.
//   A pitch below 20 Hz or above 20 kHz is held at that edge, and the wave stays band-limited
//   at every pitch.
// - A full-range wave at full volume peaks at -2 dB of full scale, before the ripple of its
//   steps, so that nothing clips.
import { parseInstrument, rangeOf } from './draw.js';

export const SAMPLE_RATE = 44100;  // of the WAV file
const FRAMES_A_SECOND = 60;
const ATTACK_SECONDS = 0.002;
const RELEASE_SECONDS = 0.005;
const PEAK = 10 ** (-2 / 20);
const CLOCK = 3579545;  // Hz, of the chip that the period mode counts periods of
const [LOWEST, HIGHEST] = [20, 20000];  // Hz
const CYCLE_SIZE = 4096;  // samples of the band-limited cycle, read with linear interpolation
const MADE_CYCLES = 32;  // cycles a voice keeps, for the pitches its envelope comes back to
const COSINE = Float64Array.from({ length: CYCLE_SIZE }, (_, i) => Math.cos((2 * Math.PI * i) / CYCLE_SIZE));

const NAMES = ['C', 'C#', 'D', 'D#', 'E', 'F', 'F#', 'G', 'G#', 'A', 'A#', 'B'];
// MIDI note numbers: 60 is C4, 69 is A4 at 440 Hz, in equal temperament.
export const noteName = (number) => `${NAMES[number % 12]}${Math.floor(number / 12) - 1}`;
export const frequencyOf = (number) => 440 * 2 ** ((number - 69) / 12);
// The notes that Play offers, from C2 to C7.
export const NOTES = Array.from({ length: 5 * 12 + 1 }, (_, i) => ({ name: noteName(36 + i), frequency: frequencyOf(36 + i) }));

export const PITCH_MODES = ['period', 'fine', 'semitones', 'off'];

// What of an instrument its sound needs, from keldo's text, its pitch envelope read as
// `pitchMode` says; null when the text holds no instrument.
export function soundOf(text, pitchMode = 'off') {
    const instrument = parseInstrument(text);
    const envelope = ({ values, loop }) => ({ values: values.map((value) => value + 0), loop });  // -0 is 0
    return instrument && { wave: instrument.wave.values, volume: envelope(instrument.volume),
                           pitch: { ...envelope(instrument.pitch), mode: pitchMode } };
}

// The wave table's entries centred on the middle of its range, from -1 to 1 at full range.
export function centredWave(wave) {
    const middle = rangeOf(wave) / 2;
    return wave.map((value) => (value - middle) / middle);
}

// The band-limited cycles of the stepped wave of `wave`: for each number of partials that a pitch
// keeps below half the sample rate, one cycle of the ideal stepped wave's partials up to it, from
// -1 to 1 for a full-range wave. Its partial k is the wave's discrete Fourier coefficient k (which
// repeats every 32) times that of one step, (1 - e^-iθ) / (2πik) with θ = 2πk/32; every 32nd is
// zero. A cycle is made from the nearest one made before, by adding or taking away partials, so
// that a pitch that slides costs a partial or two a frame.
class Cycles {
    constructor(wave) {
        const centred = centredWave(wave);
        const n = centred.length;
        this.mean = centred.reduce((sum, v) => sum + v, 0) / n;
        this.coefficients = Array.from({ length: n }, (_, k) => centred.reduce(([re, im], v, j) =>
            [re + v * Math.cos((2 * Math.PI * k * j) / n), im - v * Math.sin((2 * Math.PI * k * j) / n)], [0, 0]));
        this.made = new Map();  // by number of partials, the most recently made last
    }

    // Adds partial k to `cycle`, `times` times (-1 takes it away).
    addPartial(cycle, k, times) {
        const [re, im] = this.coefficients[k % this.coefficients.length];
        const theta = (2 * Math.PI * k) / this.coefficients.length;
        const [stepRe, stepIm] = [Math.sin(theta) / (2 * Math.PI * k), -(1 - Math.cos(theta)) / (2 * Math.PI * k)];
        // Twice the real part of c e^{2πikt}: the partial's cosine and sine parts.
        const a = 2 * times * (re * stepRe - im * stepIm);
        const b = -2 * times * (re * stepIm + im * stepRe);
        for (let i = 0, at = 0; i < CYCLE_SIZE; ++i, at = (at + k) & (CYCLE_SIZE - 1))
            cycle[i] += a * COSINE[at] + b * COSINE[(at + (3 * CYCLE_SIZE) / 4) & (CYCLE_SIZE - 1)];
    }

    // The cycle at `frequency`: every partial below half the sample rate, none at it or above.
    at(frequency, sampleRate) {
        const partials = Math.min(Math.ceil(sampleRate / 2 / frequency) - 1, CYCLE_SIZE / 2 - 1);
        if (this.made.has(partials))
            return this.made.get(partials);
        let from = 0;
        for (const made of this.made.keys())
            from = Math.abs(made - partials) < Math.abs(from - partials) ? made : from;
        const cycle = from ? Float64Array.from(this.made.get(from)) : new Float64Array(CYCLE_SIZE).fill(this.mean);
        for (let k = from + 1; k <= partials; ++k)
            this.addPartial(cycle, k, 1);
        for (let k = from; k > partials; --k)
            this.addPartial(cycle, k, -1);
        this.made.set(partials, cycle);
        if (this.made.size > MADE_CYCLES)
            this.made.delete(this.made.keys().next().value);
        return cycle;
    }
}

// The entry of an envelope that frame `frame` plays.
function entryAt({ values, loop }, frame) {
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
        this.cycles = wave.some((value) => value !== wave[0]) ? new Cycles(wave) : null;
        this.sampleRate = sampleRate;
        this.frequency = frequency;
        this.pitch = sound?.pitch ?? { values: [], loop: -1, mode: 'off' };
        this.period = Math.round(CLOCK / (32 * frequency));  // the note's own, in the period mode
        this.sum = 0;  // of the pitch entries so far, in the period and fine modes
        this.frame = -1;  // whose pitch is set
        this.phase = 0;
        this.volume = sound?.volume;
        this.volumeRange = rangeOf(this.volume?.values ?? []);
        this.frameLength = sampleRate / FRAMES_A_SECOND;
        this.time = 0;
        this.attackLength = Math.round(ATTACK_SECONDS * sampleRate);
        this.releaseLength = Math.round(RELEASE_SECONDS * sampleRate);
        this.releasedAt = length === null ? Infinity : length - this.releaseLength;
    }

    // The pitch of the next frame, in Hz, as the pitch mode reads its entry.
    nextPitch(frame) {
        const { values, mode } = this.pitch;
        if (values.length === 0 || mode === 'off')
            return this.frequency;
        const entry = entryAt(this.pitch, frame);
        this.sum += entry;
        if (mode === 'period')
            return this.period + this.sum > 0 ? CLOCK / (32 * (this.period + this.sum)) : HIGHEST;
        return this.frequency * 2 ** ((mode === 'fine' ? this.sum / 16 : entry) / 12);
    }

    // Moves the pitch at the start of frame `frame`: the cycle and the step through it change,
    // the phase goes on.
    startFrame(frame) {
        const frequency = Math.min(HIGHEST, Math.max(LOWEST, this.nextPitch(frame)));
        this.frame = frame;
        this.cycle = this.cycles?.at(frequency, this.sampleRate) ?? null;
        this.step = (frequency * CYCLE_SIZE) / this.sampleRate;
    }

    // Starts the ramp to silence, now.
    release() {
        this.releasedAt = Math.min(this.releasedAt, this.time);
    }

    loudness() {
        const values = this.volume?.values ?? [];
        const level = values.length === 0 ? 1 : entryAt(this.volume, this.frame) / this.volumeRange;
        const rise = this.time / this.attackLength;
        const fall = (this.time - this.releasedAt) / this.releaseLength;
        const attack = rise >= 1 ? 1 : (1 - Math.cos(Math.PI * rise)) / 2;
        return fall <= 0 ? attack * level : fall >= 1 ? 0 : (attack * level * (1 + Math.cos(Math.PI * fall))) / 2;
    }

    // Fills `out` with the next samples; returns whether the note sounds on after them.
    render(out) {
        for (let i = 0; i < out.length; ++i, ++this.time) {
            const frame = Math.floor(this.time / this.frameLength);
            if (frame !== this.frame)
                this.startFrame(frame);
            const loudness = this.cycle ? this.loudness() : 0;
            const index = Math.floor(this.phase);
            const [from, to] = [this.cycle?.[index] ?? 0, this.cycle?.[(index + 1) % CYCLE_SIZE] ?? 0];
            out[i] = PEAK * loudness * (from + (to - from) * (this.phase - index));
            this.phase = (this.phase + this.step) % CYCLE_SIZE;
        }
        return this.time < this.releasedAt + this.releaseLength;
    }
}

// One second of `text`'s instrument at `frequency`, its pitch envelope played in `pitchMode`, as
// samples from -1 to 1, ending in the ramp; silence when the text holds no instrument.
export function renderNote(text, frequency, pitchMode) {
    const samples = new Float32Array(SAMPLE_RATE);
    new Voice(soundOf(text, pitchMode), frequency, SAMPLE_RATE, samples.length).render(samples);
    return samples;
}
