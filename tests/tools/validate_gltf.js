// Runs the Khronos glTF Validator on each file given and prints its findings.
// Exit status 0 only when no file has an error or a warning.
// Usage: node validate_gltf.js VALIDATOR_MODULE_FOLDER FILE...
'use strict';
const fs = require('fs');
const path = require('path');

const validator = require(path.resolve(process.argv[2]));
const files = process.argv.slice(3);

(async () => {
  let failed = false;
  for (const file of files) {
    const bytes = new Uint8Array(fs.readFileSync(file));
    const report = await validator.validateBytes(bytes, {
      uri: path.basename(file),
      maxIssues: 0,
      externalResourceFunction: () => Promise.reject(new Error('no external resources')),
    });
    const { numErrors, numWarnings, numInfos, numHints } = report.issues;
    console.log(`${file}: ${numErrors} errors, ${numWarnings} warnings, ${numInfos} infos, ${numHints} hints`);
    for (const message of report.issues.messages)
      console.log(`  ${['error', 'warning', 'info', 'hint'][message.severity]} ${message.code} ${message.pointer || ''}: ${message.message}`);
    if (numErrors > 0 || numWarnings > 0) failed = true;
  }
  process.exit(failed ? 1 : 0);
})().catch((error) => {
  console.error(error);
  process.exit(2);
});
