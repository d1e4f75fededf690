// Samples from -1 to 1 as a WAV file: RIFF WAVE, 16-bit PCM, mono; and a wave table as a
// single-cycle sample that loops, for trackers and samplers.

// `chunks`: [id, bytes] after the format chunk.
function riff(sampleRate, chunks) {
    const format = new DataView(new ArrayBuffer(16));
    format.setUint16(0, 1, true);  // PCM
    format.setUint16(2, 1, true);  // one channel
    format.setUint32(4, sampleRate, true);
    format.setUint32(8, 2 * sampleRate, true);  // bytes a second
    format.setUint16(12, 2, true);  // bytes a sample
    format.setUint16(14, 16, true);  // bits a sample
    const all = [['fmt ', format], ...chunks];
    const size = all.reduce((sum, [, bytes]) => sum + 8 + bytes.byteLength, 4);
    const head = new DataView(new ArrayBuffer(12));
    const text = (view, at, word) => [...word].forEach((c, i) => view.setUint8(at + i, c.charCodeAt(0)));
    text(head, 0, 'RIFF');
    head.setUint32(4, size, true);
    text(head, 8, 'WAVE');
    const parts = all.flatMap(([id, bytes]) => {
        const chunkHead = new DataView(new ArrayBuffer(8));
        text(chunkHead, 0, id);
        chunkHead.setUint32(4, bytes.byteLength, true);
        return [chunkHead, bytes];
    });
    return new Blob([head, ...parts], { type: 'audio/wav' });
}

function pcm(samples) {
    const data = new DataView(new ArrayBuffer(2 * samples.length));
    samples.forEach((sample, i) => data.setInt16(2 * i, Math.round(sample * 32767), true));
    return data;
}

export function wavFile(samples, sampleRate) {
    return riff(sampleRate, [['data', pcm(samples)]]);
}

// The sampler chunk: the sample plays `unityNote` (a MIDI note number) at its own rate, and
// loops forward over all of it, for ever.
function samplerChunk(sampleRate, length, unityNote) {
    const chunk = new DataView(new ArrayBuffer(36 + 24));
    chunk.setUint32(8, Math.round(1e9 / sampleRate), true);  // nanoseconds a sample
    chunk.setUint32(12, unityNote, true);
    chunk.setUint32(28, 1, true);  // one loop
    chunk.setUint32(36 + 12, length - 1, true);  // from sample 0 to the last, both in the loop
    return chunk;
}

// One cycle of `samples` that loops, at the sample rate that sounds it as `unityNote`.
export function cycleWavFile(samples, sampleRate, unityNote) {
    return riff(sampleRate, [['data', pcm(samples)], ['smpl', samplerChunk(sampleRate, samples.length, unityNote)]]);
}
