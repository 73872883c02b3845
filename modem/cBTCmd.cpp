// placeholder: replaced by the real implementation
