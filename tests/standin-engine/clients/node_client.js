#!/usr/bin/env node
// Runs a plan of requests with Node's http and a keep-alive agent (one socket), straight to the host or
// through a proxy, and prints one JSON line per answer (status, headers, body in base64, trailers and
// the interim answers before it).
'use strict';
const http = require('http');
const fs = require('fs');

function parseArguments(argv) {
    const args = { label: 'run' };
    for (let i = 0; i < argv.length; ++i) {
        if (argv[i] === '--origin') args.origin = argv[++i];
        else if (argv[i] === '--proxy') args.proxy = Number(argv[++i]);
        else if (argv[i] === '--label') args.label = argv[++i];
        else args.plan = argv[i];
    }
    return args;
}

function send(agent, args, step) {
    return new Promise((resolve) => {
        const origin = new URL(args.origin);
        const path = step.path.replace('{run}', args.label);
        const body = step.body_file !== undefined ? fs.readFileSync(step.body_file) : null;
        const headers = Object.assign({}, step.headers || {});
        if (body && !step.chunked && !step.trailers) headers['Content-Length'] = body.length;
        if (step.trailers) headers['Trailer'] = Object.keys(step.trailers).join(', ');
        const options = args.proxy
            ? { host: '127.0.0.1', port: args.proxy, path: args.origin + path, headers: Object.assign({ Host: origin.host }, headers) }
            : { host: origin.hostname, port: Number(origin.port), path, headers };
        options.method = step.method;
        options.agent = agent;
        options.timeout = 20000;
        const interim = [];
        const request = http.request(options, (response) => {
            const pieces = [];
            response.on('data', (piece) => pieces.push(piece));
            response.on('end', () => resolve({
                status: response.statusCode,
                headers: Object.entries(response.headers),
                body_b64: Buffer.concat(pieces).toString('base64'),
                trailers: response.trailers,
                interim,
            }));
            response.on('error', (error) => resolve({ error: error.message }));
        });
        request.on('error', (error) => resolve({ error: `${error.code || ''} ${error.message}` }));
        request.on('timeout', () => request.destroy(new Error('timed out')));
        request.on('information', (info) => interim.push({ status: info.statusCode, headers: info.headers }));
        if (body && step.trailers) { // chunked, the trailer fields after the last chunk
            request.write(body);
            request.addTrailers(step.trailers);
            request.end();
        } else if (body && step.chunked) { // no length: Node sends the body chunked, in two pieces
            const half = Math.floor(body.length / 2);
            request.write(body.subarray(0, half));
            request.end(body.subarray(half));
        } else {
            request.end(body || undefined);
        }
    });
}

async function main() {
    const args = parseArguments(process.argv.slice(2));
    const steps = JSON.parse(fs.readFileSync(args.plan));
    const agent = new http.Agent({ keepAlive: true, maxSockets: 1 });
    for (const step of steps) {
        if (step.pause_ms) // longer than the host's keep-alive timeout
            await new Promise((resolve) => setTimeout(resolve, step.pause_ms));
        let answer = await send(agent, args, step);
        // Straight to the host, a kept socket the host closed as it was used is tried once more on a
        // new one, as browsers do; through the proxy nothing is forgiven.
        if (answer.error && !args.proxy && /ECONNRESET|socket hang up|EPIPE/.test(answer.error))
            answer = await send(agent, args, step);
        process.stdout.write(JSON.stringify(answer) + '\n');
    }
    agent.destroy();
}

main();
