// The Node anchor's server: TLS WebSocket (ws) answering the phone link's benchmark workloads as
// the real server does: each JSON message parsed, "text" acknowledged, a picture's chunks decoded
// from base64 into one buffer and each acknowledged. Prints "listening PORT" once ready.
// Usage: node server.js KEY.pem CERT.pem
'use strict';
const fs = require('fs');
const https = require('https');
const { WebSocketServer } = require('ws');

const [keyFile, certFile] = process.argv.slice(2);
const server = https.createServer({ key: fs.readFileSync(keyFile), cert: fs.readFileSync(certFile) });
// The same message limit as the real server (the phone's largest message is a picture chunk).
const wss = new WebSocketServer({ server, maxPayload: 256 * 1024, perMessageDeflate: false });
const ACK = JSON.stringify({ v: 1, type: 'ack', ok: true });

wss.on('connection', (socket) => {
  socket._socket.setNoDelay(true);
  let picture = null;
  let received = 0;
  socket.on('message', (data) => {
    const message = JSON.parse(data.toString('utf8'));
    switch (message.type) {
      case 'image_begin':
        picture = Buffer.alloc(message.size);
        received = 0;
        break;
      case 'image_chunk':
        received += picture.write(message.data, message.index * 65536, 'base64');
        break;
      case 'image_end':
        if (received !== picture.length) throw new Error('picture incomplete');
        picture = null;
        break;
      default:
        break;
    }
    socket.send(ACK);
  });
});
server.listen(0, '127.0.0.1', () => console.log(`listening ${server.address().port}`));
process.stdin.on('end', () => process.exit(0));
process.stdin.resume();
