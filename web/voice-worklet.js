// The page's audio worklet: one note of the shown instrument, rendered by sound.js's Voice, until
// its gate closes and its ramp to silence is over.
import { Voice } from './sound.js';

registerProcessor('keldo-voice', class extends AudioWorkletProcessor {
    static get parameterDescriptors() {
        return [{ name: 'gate', defaultValue: 1, minValue: 0, maxValue: 1, automationRate: 'k-rate' }];
    }

    constructor({ processorOptions: { sound, frequency, length } }) {
        super();
        this.voice = new Voice(sound, frequency, sampleRate, length);  // sampleRate: the context's
    }

    process(inputs, [[out]], { gate }) {
        if (gate[0] < 0.5)
            this.voice.release();
        const sounds = this.voice.render(out);
        if (!sounds)
            this.port.postMessage('ended');
        return sounds;
    }
});
